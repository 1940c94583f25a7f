#include "server/core/ServerFactory.h"

#include <algorithm>
#include <chrono>

#include "server/core/LogKeeper.h"
#include "server/core/MasterProps.h"
#include "server/core/ProcessList.h"

namespace tarvo {

TServerFactory::TServerFactory(IWorkerMaker& maker, TProcessCheck isRunning)
    : FMaker(maker), FIsRunning(isRunning ? std::move(isRunning) : TProcessCheck(IsProcessRunning)) {
  FThread = std::thread([this] { Execute(); });
}

TServerFactory::~TServerFactory() {
  StopClientsTimer();
  FTerminated = true;
  FNewTaskEvent.Set();
  if (FThread.joinable()) FThread.join();
  // Workers still alive end here, while the garbage list they free into still exists.
  std::vector<std::shared_ptr<TBaseMaster>> masters;
  std::vector<std::shared_ptr<TBaseTransport>> transports;
  {
    std::lock_guard lock(FMasterLock);
    masters.swap(FMasterList);
  }
  {
    std::lock_guard lock(FTransportLock);
    transports.swap(FTransportList);
  }
  masters.clear();
  transports.clear();
  std::lock_guard lock(FGarbageLock);
  FGarbage.clear();
}

// Queue and loop.

void TServerFactory::Queue(TFactoryTask task) {
  {
    std::lock_guard lock(FQueueLock);
    FTaskList.push_back(std::move(task));
  }
  FNewTaskEvent.Set();
}

void TServerFactory::Execute() {
  for (;;) {
    TFactoryTask task;
    {
      std::unique_lock lock(FQueueLock);
      if (FTaskList.empty()) {
        FBusy = false;
        FIdle.notify_all();
        if (FTerminated) break;
        lock.unlock();
        FNewTaskEvent.Wait(kInfinite);
        continue;
      }
      FNewTaskEvent.Reset();
      task = std::move(FTaskList.front());
      FTaskList.pop_front();
      FBusy = true;
    }
    try {
      RunTask(task);
    } catch (const std::exception& e) {
      LogAction("ServerFactory: Неожиданная ошибка");
      LogDebug(std::string("ServerFactory: ") + e.what());
    }
  }
  std::lock_guard lock(FGarbageLock);
  FGarbage.clear();
}

bool TServerFactory::WaitIdle(std::uint32_t timeoutMs) {
  std::unique_lock lock(FQueueLock);
  return FIdle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return FTaskList.empty() && !FBusy; });
}

void TServerFactory::RunTask(TFactoryTask& t) {
  switch (t.TaskType) {
    case ftCreateTransport: DoCreateTransport(t); break;
    case ftReleaseTransport: DoReleaseTransport(t.AID); break;
    case ftFreeMaster: DoFreeMaster(t.AID); break;
    case ftStateChange:
    case ftDestroyDelayedTransport: DoLinkGone(t.AID); break;
    case ftDisconectTransport:
      LogDebug("ServerFactory ftDisconectTransport enter");
      if (t.AnyTransport && AnyTransportObjValid(t.AnyTransport.get()))
        t.AnyTransport->RaiseState(stClosed);
      break;
    case ftDestroyAnyTransport:
      if (t.AnyTransport && AnyTransportObjValid(t.AnyTransport.get())) t.AnyTransport->CutOff();
      break;
    case ftDestroyAnyMaster:
      if (t.AnyMaster && AnyMasterObjValid(t.AnyMaster.get())) t.AnyMaster->CutOff();
      break;
  }
}

// Queued operations.

namespace {
TFactoryTask Task(TFactoryTaskType type, std::int32_t id = kNoID) {
  TFactoryTask t;
  t.TaskType = type;
  t.AID = id;
  return t;
}
}  // namespace

void TServerFactory::CreateTransport(std::shared_ptr<IAnyTransportObj> obj, const Variant& props) {
  TFactoryTask t = Task(ftCreateTransport);
  t.TransportType = props.IsArray() ? props.Array().At(0).ToInt32() : props.ToInt32();
  t.Props = props;
  t.AnyTransport = std::move(obj);
  Queue(std::move(t));
}

void TServerFactory::ReleaseTransport(std::int32_t id) { Queue(Task(ftReleaseTransport, id)); }

void TServerFactory::FreeMaster(std::int32_t id) { Queue(Task(ftFreeMaster, id)); }

void TServerFactory::SetTransportState(std::int32_t id, std::int32_t state) {
  TFactoryTask t = Task(ftStateChange, id);
  t.State = state;
  Queue(std::move(t));
}

void TServerFactory::DisconectTransport(std::shared_ptr<IAnyTransportObj> obj) {
  TFactoryTask t = Task(ftDisconectTransport);
  t.AnyTransport = std::move(obj);
  Queue(std::move(t));
}

void TServerFactory::DestroyDelayedTransport(std::int32_t id) {
  Queue(Task(ftDestroyDelayedTransport, id));
}

void TServerFactory::DestroyAnyTransport(std::shared_ptr<IAnyTransportObj> obj) {
  TFactoryTask t = Task(ftDestroyAnyTransport);
  t.AnyTransport = std::move(obj);
  Queue(std::move(t));
}

void TServerFactory::DestroyAnyMaster(std::shared_ptr<IAnyMasterObj> obj) {
  TFactoryTask t = Task(ftDestroyAnyMaster);
  t.AnyMaster = std::move(obj);
  Queue(std::move(t));
}

// Transports.

std::int32_t TServerFactory::ShareTransport(const Variant& props) {
  std::lock_guard lock(FTransportLock);
  for (const auto& tr : FTransportList) {
    if (tr->CompareProps(props)) {
      tr->AddAnyRef();
      return tr->GetID();
    }
  }
  return kNoID;
}

std::shared_ptr<TBaseTransport> TServerFactory::OpenTransport(std::int32_t type,
                                                              const Variant& props,
                                                              IAnyTransportObj* obj, Event* abort) {
  std::shared_ptr<TBaseTransport> tr = FMaker.NewTransport(type, *this);
  if (!tr) throw TAssertionError("TServerFactory.NewTransport: Result = nil");
  tr->SetProps(props);
  // The object learns the ID first, so that states reported while connecting reach it.
  if (obj) obj->SetTransportID(tr->GetID());
  tr->SetAbortEvent(abort);
  if (!tr->Connect(abort)) return nullptr;
  return tr;
}

void TServerFactory::DoCreateTransport(TFactoryTask& t) {
  std::int32_t id = ShareTransport(t.Props);
  bool delayed = false;
  if (id == kNoID) {
    // The link is opened outside FTransportLock: a long connect (a modem dialling) must not
    // hold up every master that looks up its transport meanwhile.
    std::shared_ptr<TBaseTransport> tr;
    try {
      FAbortConnection.Reset();
      tr = OpenTransport(t.TransportType, t.Props, t.AnyTransport.get(), &FAbortConnection);
    } catch (...) {
      // Whatever went wrong, the client link must not stay "opening" for ever.
      if (t.AnyTransport && AnyTransportObjValid(t.AnyTransport.get())) {
        t.AnyTransport->SetTransportID(kNoID);
        t.AnyTransport->RaiseState(stClosed);
        t.AnyTransport->ClearBusy();
      }
      throw;
    }
    if (tr) {
      id = tr->GetID();
      delayed = tr->DelayedConnect();
      std::lock_guard lock(FTransportLock);
      FTransportList.push_back(std::move(tr));
    }
  } else if (std::shared_ptr<TBaseTransport> shared = GetTransport(id)) {
    delayed = shared->DelayedConnect();
  }
  if (t.AnyTransport && AnyTransportObjValid(t.AnyTransport.get())) {
    t.AnyTransport->SetTransportID(id);
    if (id == kNoID) t.AnyTransport->RaiseState(stClosed);
    else if (!delayed) t.AnyTransport->RaiseState(stOpen);
    t.AnyTransport->ClearBusy();
  }
}

void TServerFactory::DoReleaseTransport(std::int32_t id) {
  LogDebug("ServerFactory ftReleaseTransport enter");
  std::shared_ptr<TBaseTransport> gone;
  {
    std::lock_guard lock(FTransportLock);
    for (auto it = FTransportList.rbegin(); it != FTransportList.rend(); ++it) {
      if ((*it)->GetID() != id) continue;
      std::shared_ptr<TBaseTransport> tr = *it;
      tr->RemofeAnyRef();
      if (!tr->AnyRefsLeft()) {
        tr->BeginClose();  // what is still queued is dropped, not sent on a closing link
        tr->Suspend();  // no exchange runs while the link is closed under it
        tr->Disconnect();
        tr->Resume();
        FTransportList.erase(std::next(it).base());
        gone = std::move(tr);
      }
      break;
    }
  }
  gone.reset();  // ends the transport's thread, outside the lock
  LogDebug("ServerFactory ftReleaseTransport leave");
}

std::int32_t TServerFactory::CreateTransportInplace(const Variant& props) {
  std::int32_t id = ShareTransport(props);
  if (id != kNoID) return id;
  const std::int32_t type = props.IsArray() ? props.Array().At(0).ToInt32() : props.ToInt32();
  std::shared_ptr<TBaseTransport> tr = OpenTransport(type, props, nullptr, nullptr);
  if (!tr) return kNoID;
  id = tr->GetID();
  std::lock_guard lock(FTransportLock);
  FTransportList.push_back(std::move(tr));
  return id;
}

std::shared_ptr<TBaseTransport> TServerFactory::GetTransport(std::int32_t id) {
  if (id == kNoID) return nullptr;
  std::lock_guard lock(FTransportLock);
  for (const auto& tr : FTransportList)
    if (tr->GetID() == id) return tr;
  return nullptr;
}

std::shared_ptr<TBaseTransport> TServerFactory::GetTransportByIndex(int index) {
  std::lock_guard lock(FTransportLock);
  if (index < 0 || index >= static_cast<int>(FTransportList.size())) return nullptr;
  return FTransportList[index];
}

int TServerFactory::GetTransportCount() {
  std::lock_guard lock(FTransportLock);
  return static_cast<int>(FTransportList.size());
}

std::vector<std::shared_ptr<IAnyTransportObj>> TServerFactory::ObjectsBoundTo(std::int32_t id) {
  std::vector<std::shared_ptr<IAnyTransportObj>> out;
  std::lock_guard lock(FObjLock);
  for (const TAnyTrListItem& item : FAnyTransportObjList)
    if (item.Object->GetTransportID() == id) out.push_back(item.Object);
  return out;
}

void TServerFactory::DoLinkGone(std::int32_t id) {
  for (const auto& obj : ObjectsBoundTo(id)) {
    obj->SetTransportID(kNoID);
    ReleaseTransport(id);
    DisconectTransport(obj);
  }
}

void TServerFactory::SetTransportStateInplace(std::int32_t id, std::int32_t state) {
  for (const auto& obj : ObjectsBoundTo(id)) obj->RaiseState(state);
}

// Masters.

std::int32_t TServerFactory::CreateMaster(const Variant& props,
                                          TBaseMaster::TExchangeCallback callback,
                                          std::shared_ptr<void> owner) {
  std::lock_guard lock(FMasterLock);
  const std::int32_t type = ReadMasterType(props);
  std::shared_ptr<TBaseMaster> master = FMaker.NewMaster(type, *this);
  if (!master) throw TAssertionError("TServerFactory.NewMaster: Result = nil");
  master->SetProps(props);
  FMasterList.push_back(master);
  master->RegCOMObjCallback(std::move(callback), std::move(owner));
  return master->GetID();
}

void TServerFactory::DoFreeMaster(std::int32_t id) {
  LogDebug("ServerFactory ftFreeMaster enter");
  std::shared_ptr<TBaseMaster> gone;
  {
    std::lock_guard lock(FMasterLock);
    for (auto it = FMasterList.rbegin(); it != FMasterList.rend(); ++it) {
      if ((*it)->GetID() != id) continue;
      gone = *it;
      FMasterList.erase(std::next(it).base());
      break;
    }
  }
  if (gone) gone->CancelAllTasks();
  gone.reset();
  LogDebug("ServerFactory ftFreeMaster leave");
}

std::shared_ptr<TBaseMaster> TServerFactory::GetMaster(std::int32_t id) {
  if (id == kNoID) return nullptr;
  std::lock_guard lock(FMasterLock);
  for (const auto& m : FMasterList)
    if (m->GetID() == id) return m;
  return nullptr;
}

int TServerFactory::MasterCount() {
  std::lock_guard lock(FMasterLock);
  return static_cast<int>(FMasterList.size());
}

// Garbage list.

TBaseTransportTask* TServerFactory::AddToGarbage(std::unique_ptr<TBaseTransportTask> task) {
  TBaseTransportTask* raw = task.get();
  std::lock_guard lock(FGarbageLock);
  FGarbage.emplace(raw, std::move(task));
  return raw;
}

void TServerFactory::DestroyGarbage(TBaseTransportTask* task) {
  if (!task) return;
  std::unique_ptr<TBaseTransportTask> owned;
  {
    std::lock_guard lock(FGarbageLock);
    auto it = FGarbage.find(task);
    if (it == FGarbage.end()) return;
    owned = std::move(it->second);
    FGarbage.erase(it);
  }
}

std::size_t TServerFactory::GarbageCount() {
  std::lock_guard lock(FGarbageLock);
  return FGarbage.size();
}

// Client objects.

namespace {

// The two object lists work alike: items of one object, found by address.
template <class Item, class Obj>
void RemoveItems(std::vector<Item>& list, const Obj* obj, std::vector<Item>& removed) {
  for (auto it = list.begin(); it != list.end();) {
    if (it->Object.get() == obj) {
      removed.push_back(std::move(*it));
      it = list.erase(it);
    } else {
      ++it;
    }
  }
}

template <class Item, class Obj>
bool HasItem(const std::vector<Item>& list, const Obj* obj) {
  return std::any_of(list.begin(), list.end(),
                     [obj](const Item& item) { return item.Object.get() == obj; });
}

template <class Item, class Obj>
void SetProcess(std::vector<Item>& list, const Obj* obj, std::uint32_t pid) {
  for (auto& item : list)
    if (item.Object.get() == obj) item.ProcessID = pid;
}

}  // namespace

void TServerFactory::RegAnyTransportObj(std::shared_ptr<IAnyTransportObj> obj) {
  std::lock_guard lock(FObjLock);
  FAnyTransportObjList.push_back({std::move(obj), 0});
}

void TServerFactory::UnregAnyTransportObj(const IAnyTransportObj* obj) {
  std::vector<TAnyTrListItem> removed;  // released outside the lock
  std::lock_guard lock(FObjLock);
  RemoveItems(FAnyTransportObjList, obj, removed);
}

bool TServerFactory::AnyTransportObjValid(const IAnyTransportObj* obj) {
  std::lock_guard lock(FObjLock);
  return HasItem(FAnyTransportObjList, obj);
}

void TServerFactory::registerTransportProcess(const IAnyTransportObj* obj, std::uint32_t pid) {
  std::lock_guard lock(FObjLock);
  SetProcess(FAnyTransportObjList, obj, pid);
}

void TServerFactory::unregisterTransportProcess(const IAnyTransportObj* obj) {
  registerTransportProcess(obj, 0);
}

void TServerFactory::RegAnyMasterObj(std::shared_ptr<IAnyMasterObj> obj) {
  std::lock_guard lock(FObjLock);
  FAnyMasterObjList.push_back({std::move(obj), 0});
}

void TServerFactory::UnregAnyMasterObj(const IAnyMasterObj* obj) {
  std::vector<TAnyMaListItem> removed;
  std::lock_guard lock(FObjLock);
  RemoveItems(FAnyMasterObjList, obj, removed);
}

bool TServerFactory::AnyMasterObjValid(const IAnyMasterObj* obj) {
  std::lock_guard lock(FObjLock);
  return HasItem(FAnyMasterObjList, obj);
}

void TServerFactory::registerMasterProcess(const IAnyMasterObj* obj, std::uint32_t pid) {
  std::lock_guard lock(FObjLock);
  SetProcess(FAnyMasterObjList, obj, pid);
}

void TServerFactory::unregisterMasterProcess(const IAnyMasterObj* obj) {
  registerMasterProcess(obj, 0);
}

// Client-process check.

void TServerFactory::OnClientsTimer() {
  // Decided under the list lock, acted on outside it: the objects take their own locks and call
  // back into the factory.
  std::vector<std::shared_ptr<IAnyTransportObj>> deadLinks;
  std::vector<std::shared_ptr<IAnyMasterObj>> deadMasters;
  {
    std::lock_guard lock(FObjLock);
    for (auto it = FAnyTransportObjList.rbegin(); it != FAnyTransportObjList.rend(); ++it) {
      if (it->ProcessID != 0 && !FIsRunning(it->ProcessID)) {
        it->ProcessID = 0;
        deadLinks.push_back(it->Object);
      }
    }
    for (auto it = FAnyMasterObjList.rbegin(); it != FAnyMasterObjList.rend(); ++it) {
      if (it->ProcessID != 0 && !FIsRunning(it->ProcessID)) {
        it->ProcessID = 0;
        deadMasters.push_back(it->Object);
      }
    }
  }
  for (const auto& obj : deadLinks) {
    if (obj->GetTransportID() >= 0) obj->Disconnect();
    DestroyAnyTransport(obj);
  }
  for (const auto& obj : deadMasters) DestroyAnyMaster(obj);
}

void TServerFactory::StartClientsTimer(std::uint32_t intervalMs) {
  StopClientsTimer();
  {
    std::lock_guard lock(FTimerLock);
    FTimerStop = false;
  }
  FClientsTimer = std::thread([this, intervalMs] {
    std::unique_lock lock(FTimerLock);
    while (!FTimerWake.wait_for(lock, std::chrono::milliseconds(intervalMs),
                                [this] { return FTimerStop; })) {
      lock.unlock();
      try {
        OnClientsTimer();
      } catch (const std::exception& e) {
        LogDebug(std::string("ServerFactory clients check: ") + e.what());
      }
      lock.lock();
    }
  });
}

void TServerFactory::StopClientsTimer() {
  {
    std::lock_guard lock(FTimerLock);
    FTimerStop = true;
  }
  FTimerWake.notify_all();
  if (FClientsTimer.joinable()) FClientsTimer.join();
}

}  // namespace tarvo
