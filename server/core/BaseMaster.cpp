#include "server/core/BaseMaster.h"

#include "server/core/BaseTransport.h"
#include "server/core/LogKeeper.h"

namespace tarvo {

TBaseMaster::TBaseMaster(IWorkerDirectory& directory, TMasterType type, Clock& clock)
    : FMasterType(type), FDirectory(directory), FClock(clock), FID(NewWorkerID()) {
  LogAction("Создание мастера " + std::string(MasterTypeName(type)) + " [" + std::to_string(FID) +
            "]");
}

TBaseMaster::~TBaseMaster() {
  Shutdown();
  LogAction("Удаление мастера " + std::string(MasterTypeName(FMasterType)) + " [" +
            std::to_string(FID) + "]");
}

void TBaseMaster::Start() {
  FThread.Start([this] { Execute(); }, TThreadClass::Normal);
}

void TBaseMaster::Shutdown() {
  {
    std::lock_guard lock(FLock);
    if (FShutDown) return;
    FShutDown = true;
    FClosing = true;
  }
  FThread.Stop(FNewTaskEvent);
  DiscardAll();
  // An in-place caller still waiting must not wait for a reply that will never come.
  FInplaceEvent.Set();
}

void TBaseMaster::SetTransportID(std::int32_t id) {
  std::lock_guard lock(FLock);
  FTransportID = id;
}

std::int32_t TBaseMaster::GetTransportID() {
  std::lock_guard lock(FLock);
  return FTransportID;
}

void TBaseMaster::RegCOMObjCallback(TExchangeCallback callback, std::shared_ptr<void> owner) {
  std::lock_guard lock(FLock);
  FInvokeExchangeEvent = std::move(callback);
  FCallbackOwner = std::move(owner);
}

void TBaseMaster::InvokeExchange(const Variant& reply) {
  TExchangeCallback callback;
  std::shared_ptr<void> owner;
  {
    std::lock_guard lock(FLock);
    callback = FInvokeExchangeEvent;
    owner = FCallbackOwner;  // alive until the call returns
  }
  if (callback) callback(reply);
}

void TBaseMaster::CancelAllTasks() {
  std::lock_guard lock(FLock);
  if (std::shared_ptr<TBaseTransport> tr = FDirectory.GetTransport(FTransportID))
    tr->CancelAllTasks(FID);
  for (auto& task : FTaskList) task->Canceled = true;
  for (auto& task : FWaitList) task->Canceled = true;
  TasksCancelled();
}

void TBaseMaster::CancelTask(std::int32_t qid) {
  std::lock_guard lock(FLock);
  if (std::shared_ptr<TBaseTransport> tr = FDirectory.GetTransport(FTransportID))
    tr->CancelTask(FID, qid);
  for (auto& task : FTaskList)
    if (task->QID == qid) task->Canceled = true;
  for (auto& task : FWaitList)
    if (task->QID == qid) task->Canceled = true;
  TasksCancelled();
}

void TBaseMaster::AddTask(const Variant&) { ++FTasksAdded; }

void TBaseMaster::PutTask(std::unique_ptr<TBaseMasterTask> task) {
  std::lock_guard lock(FLock);
  auto pos = FTaskList.begin();
  while (pos != FTaskList.end() && (*pos)->Priority <= task->Priority) ++pos;
  FTaskList.insert(pos, std::move(task));
}

TBaseMasterTask* TBaseMaster::GetFirstTask() {
  std::lock_guard lock(FLock);
  return FTaskList.empty() ? nullptr : FTaskList.front().get();
}

std::unique_ptr<TBaseMasterTask> TBaseMaster::RemoveTask(TBaseMasterTask* task) {
  std::lock_guard lock(FLock);
  for (auto it = FTaskList.begin(); it != FTaskList.end(); ++it) {
    if (it->get() == task) {
      std::unique_ptr<TBaseMasterTask> out = std::move(*it);
      FTaskList.erase(it);
      return out;
    }
  }
  return nullptr;
}

std::unique_ptr<TBaseMasterTask> TBaseMaster::GetWaitTask(std::int32_t qid) {
  std::lock_guard lock(FLock);
  for (auto it = FWaitList.begin(); it != FWaitList.end(); ++it) {
    if ((*it)->QID == qid) {
      std::unique_ptr<TBaseMasterTask> out = std::move(*it);
      FWaitList.erase(it);
      return out;
    }
  }
  return nullptr;
}

void TBaseMaster::PutWaitTask(std::unique_ptr<TBaseMasterTask> task) {
  std::lock_guard lock(FLock);
  FWaitList.push_back(std::move(task));
}

bool TBaseMaster::HaveTasks() {
  std::lock_guard lock(FLock);
  return !FTaskList.empty();
}

void TBaseMaster::DiscardAll() {
  std::list<std::unique_ptr<TBaseMasterTask>> tasks, waiting;
  {
    std::lock_guard lock(FLock);
    tasks.swap(FTaskList);
    waiting.swap(FWaitList);
  }
  for (auto& task : tasks) FreeCanceledTask(std::move(task));
  for (auto& task : waiting) FreeCanceledTask(std::move(task));
}

void TBaseMaster::Execute() {
  while (!FThread.Terminated()) {
    try {
      Iterate();
    } catch (const std::exception& e) {
      LogDebug("Мастер " + std::to_string(FID) + ": Exeption (" + e.what() +
               ") caught in Execute");
    }
  }
}

void TBaseMaster::Iterate() {
  bool closing;
  {
    std::lock_guard lock(FLock);
    closing = FClosing;
  }
  if (!closing && HaveTasks()) {
    FNewTaskEvent.Reset();
    TBaseMasterTask* task = GetFirstTask();
    if (!task) return;
    if (task->Canceled) {
      FreeCanceledTask(RemoveTask(task));
      return;
    }
    RunTask(task);
    return;
  }
  if (closing) DiscardAll();
  if (!FThread.Terminated()) FNewTaskEvent.Wait(kInfinite);
}

}  // namespace tarvo
