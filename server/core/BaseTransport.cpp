#include "server/core/BaseTransport.h"

#include "server/core/BaseMaster.h"
#include "server/core/LogKeeper.h"

namespace tarvo {

TBaseTransport::TBaseTransport(IWorkerDirectory& directory, TTransportType type, Clock& clock)
    : FTransportType(type), FDirectory(directory), FClock(clock), FID(NewWorkerID()) {
  LogAction("Создание транспорта " + std::string(TransportTypeName(type)) + " [" +
            std::to_string(FID) + "]");
}

TBaseTransport::~TBaseTransport() {
  Shutdown();
  LogAction("Удаление транспорта " + std::string(TransportTypeName(FTransportType)) + " [" +
            std::to_string(FID) + "]");
}

void TBaseTransport::Start() {
  FThread.Start([this] { Execute(); }, TThreadClass::TimeCritical);
}

void TBaseTransport::Shutdown() {
  {
    std::lock_guard lock(FLock);
    if (FShutDown) return;
    FShutDown = true;
    FClosing = true;
  }
  FThread.Stop(FNewTaskEvent);
  std::deque<TBaseTransportTask*> left;
  {
    std::lock_guard lock(FLock);
    left.swap(FTaskList);
  }
  for (TBaseTransportTask* task : left) FDirectory.DestroyGarbage(task);
}

void TBaseTransport::AddAnyRef() {
  std::lock_guard lock(FLock);
  ++FAnyRef;
}

void TBaseTransport::RemofeAnyRef() {
  std::lock_guard lock(FLock);
  --FAnyRef;
}

bool TBaseTransport::AnyRefsLeft() {
  std::lock_guard lock(FLock);
  return FAnyRef > 0;
}

void TBaseTransport::CancelAllTasks(std::int32_t masterID) {
  std::lock_guard lock(FLock);
  for (TBaseTransportTask* task : FTaskList)
    if (task->MasterID == masterID) task->Canceled = true;
}

void TBaseTransport::CancelTask(std::int32_t masterID, std::int32_t qid) {
  std::lock_guard lock(FLock);
  for (TBaseTransportTask* task : FTaskList)
    if (task->MasterID == masterID && task->QID == qid) task->Canceled = true;
}

void TBaseTransport::AddLogTask(const TBaseTransportTask& task, std::int32_t direction,
                                bool result) {
  if (task.TaskType == ttService) return;
  LogTransportData(FID, task.Buf.data(), task.Bufsize, direction, result);
}

void TBaseTransport::AddTask(TBaseTransportTask* task) {
  bool queued = false;
  {
    std::lock_guard lock(FLock);
    if (!FClosing) {
      FTaskList.push_back(task);
      queued = true;
    }
  }
  // A closing link sends nothing more; the task would otherwise wait in the garbage list.
  if (!queued) FDirectory.DestroyGarbage(task);
  FNewTaskEvent.Set();
  ++FTasksAdded;
}

TBaseTransportTask* TBaseTransport::CreateTask() {
  return FDirectory.AddToGarbage(std::make_unique<TBaseTransportTask>());
}

void TBaseTransport::SetAbortEvent(Event* abortEvent) { FAbortEventHandle = abortEvent; }

bool TBaseTransport::CustomWait(Event* handle, std::uint32_t ms, bool abortable) {
  Event* abort = abortable ? FAbortEventHandle.load() : nullptr;
  if (!abortable || !abort) {
    if (!handle) return true;
    return FClock.Wait(handle, nullptr, ms) != WaitResult::Object0;
  }
  if (!handle) {
    if (FClock.Wait(abort, nullptr, ms) == WaitResult::Timeout) return true;
    abort->Reset();
    throw TAbortError();
  }
  switch (FClock.Wait(handle, abort, ms)) {
    case WaitResult::Object0: return false;
    case WaitResult::Object1: abort->Reset(); throw TAbortError();
    default: return true;
  }
}

void TBaseTransport::AddErrLogTask(const std::string& text) {
  LogAction("Ошибка в транспорте " + std::to_string(FID) + ": " + text);
}

std::string TBaseTransport::PropsToStr(const Variant& value) {
  try {
    if (!value.IsArray()) return value.ToString();
    std::string out;
    for (const Variant& item : value.Array().Items()) {
      if (!out.empty()) out += ", ";
      out += item.IsArray() ? PropsToStr(item) : item.ToString();
    }
    return out;
  } catch (const VariantError&) {
    return "?";
  }
}

void TBaseTransport::BeginClose() {
  {
    std::lock_guard lock(FLock);
    FClosing = true;
  }
  FNewTaskEvent.Set();
}

void TBaseTransport::Suspend() { FRunLock.lock(); }
void TBaseTransport::Resume() { FRunLock.unlock(); }

void TBaseTransport::PutTask(TBaseTransportTask* task) {
  std::lock_guard lock(FLock);
  FTaskList.push_back(task);
}

TBaseTransportTask* TBaseTransport::GetFirstTask() {
  std::lock_guard lock(FLock);
  if (FTaskList.empty()) return nullptr;
  TBaseTransportTask* task = FTaskList.front();
  FTaskList.pop_front();
  return task;
}

bool TBaseTransport::HaveTasks() {
  std::lock_guard lock(FLock);
  return !FTaskList.empty();
}

void TBaseTransport::Execute() {
  while (!FThread.Terminated()) {
    try {
      Iterate();
    } catch (const TAbortError&) {
    } catch (const std::exception& e) {
      LogDebug("Транспорт " + std::to_string(FID) + ": Exception (" + e.what() +
               ") caught in Execute");
    }
  }
}

void TBaseTransport::HandBack(TBaseTransportTask* task) {
  std::shared_ptr<TBaseMaster> master = FDirectory.GetMaster(task->MasterID);
  if (!master) {
    FDirectory.DestroyGarbage(task);  // its master is gone; serve the others
    return;
  }
  std::lock_guard masterLock(master->LockObject());
  master->ParseAnswer(task);
}

void TBaseTransport::Iterate() {
  bool closing;
  {
    std::lock_guard lock(FLock);
    closing = FClosing;
  }
  if (!closing && HaveTasks()) {
    std::unique_lock run(FRunLock);
    FNewTaskEvent.Reset();
    TBaseTransportTask* task = GetFirstTask();
    if (!task) return;
    if (task->Canceled) {
      run.unlock();
      HandBack(task);
      return;
    }
    --task->RetriesLeft;
    AddLogTask(*task, 1, true);
    bool ok = false;
    try {
      ok = RunTask(*task);
    } catch (...) {
      // A failed exchange goes back to its master as "no answer" rather than staying lost, so
      // the request gets its reply.
      if (task->TaskType == ttService) {
        FDirectory.DestroyGarbage(task);
      } else {
        task->Bufsize = 0;
        run.unlock();
        HandBack(task);
      }
      throw;
    }
    if (task->TaskType == ttService) {
      FDirectory.DestroyGarbage(task);
      return;
    }
    if (!ok && task->RetriesLeft > 0) {
      AddLogTask(*task, 0, false);
      PutTask(task);
      return;
    }
    if (ok && task->WaitForAnswer) {
      const std::uint32_t n = FTempBufSize > kTaskBufSize ? kTaskBufSize : FTempBufSize;
      std::copy(FTempBuf.begin(), FTempBuf.begin() + n, task->Buf.begin());
      task->Bufsize = static_cast<std::int32_t>(n);
    } else {
      task->Bufsize = 0;
    }
    if (task->WaitForAnswer) AddLogTask(*task, 0, ok);
    run.unlock();
    HandBack(task);
    ++FTasksProcesses;
    return;
  }
  if (closing) {
    FNewTaskEvent.Reset();  // a closing link waits for its end, not for work
    std::deque<TBaseTransportTask*> left;
    {
      std::lock_guard lock(FLock);
      left.swap(FTaskList);
    }
    for (TBaseTransportTask* task : left) FDirectory.DestroyGarbage(task);
  }
  if (!FThread.Terminated()) FNewTaskEvent.Wait(kInfinite);
}

}  // namespace tarvo
