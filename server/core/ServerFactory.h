#pragma once
// The registry and life-cycle manager of every worker: creates, shares and releases transports,
// creates and frees masters, relays link states to the client objects, keeps the garbage list of
// transport tasks, and cuts off the objects of client processes that died.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/sync/Event.h"
#include "platform/sync/RecursiveLock.h"
#include "platform/variant/Variant.h"
#include "server/core/BaseMaster.h"
#include "server/core/BaseTransport.h"
#include "server/core/Worker.h"

namespace tarvo {

// What the factory needs of an AnyTransport automation object.
class IAnyTransportObj {
 public:
  virtual ~IAnyTransportObj() = default;
  virtual std::int32_t GetTransportID() = 0;
  virtual void SetTransportID(std::int32_t id) = 0;
  // Raises OnStateChanged with the state and the object's transport ID.
  virtual void RaiseState(std::int32_t state) = 0;
  virtual void ClearBusy() = 0;
  // Connected := false, which releases the object's link.
  virtual void Disconnect() = 0;
  // Cuts the object off from all its clients, dropping the references they hold.
  virtual void CutOff() = 0;
};

// What the factory needs of an AnyMaster automation object.
class IAnyMasterObj {
 public:
  virtual ~IAnyMasterObj() = default;
  virtual void CutOff() = 0;
};

// Makes the worker classes; a null result means the type is not supported.
class IWorkerMaker {
 public:
  virtual ~IWorkerMaker() = default;
  virtual std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type,
                                                       IWorkerDirectory& directory) = 0;
  virtual std::shared_ptr<TBaseMaster> NewMaster(std::int32_t type,
                                                 IWorkerDirectory& directory) = 0;
};

enum TFactoryTaskType : std::int32_t {
  ftCreateTransport = 0,
  ftReleaseTransport = 1,
  ftFreeMaster = 2,
  ftStateChange = 3,
  ftDisconectTransport = 4,
  ftDestroyDelayedTransport = 5,
  ftDestroyAnyTransport = 6,
  ftDestroyAnyMaster = 7,
};

struct TFactoryTask {
  TFactoryTaskType TaskType = ftCreateTransport;
  Variant Props;
  std::int32_t TransportType = 0;
  std::shared_ptr<IAnyTransportObj> AnyTransport;
  std::shared_ptr<IAnyMasterObj> AnyMaster;
  std::int32_t AID = kNoID;
  std::int32_t State = 0;
};

class TServerFactory : public IWorkerDirectory {
 public:
  using TProcessCheck = std::function<bool(std::uint32_t pid)>;

  explicit TServerFactory(IWorkerMaker& maker, TProcessCheck isRunning = nullptr);
  ~TServerFactory() override;
  TServerFactory(const TServerFactory&) = delete;
  TServerFactory& operator=(const TServerFactory&) = delete;

  // Queued operations: they return at once and are carried out in order on the factory thread.
  // CreateTransport reads the transport type from element 0 here, raising VariantError.
  void CreateTransport(std::shared_ptr<IAnyTransportObj> obj, const Variant& props);
  void ReleaseTransport(std::int32_t id);
  void FreeMaster(std::int32_t id);
  void SetTransportState(std::int32_t id, std::int32_t state);
  void DisconectTransport(std::shared_ptr<IAnyTransportObj> obj);
  void DestroyDelayedTransport(std::int32_t id);
  void DestroyAnyTransport(std::shared_ptr<IAnyTransportObj> obj);
  void DestroyAnyMaster(std::shared_ptr<IAnyMasterObj> obj);

  // Synchronous operations.
  std::int32_t CreateMaster(const Variant& props, TBaseMaster::TExchangeCallback callback,
                            std::shared_ptr<void> owner);
  std::shared_ptr<TBaseMaster> GetMaster(std::int32_t id) override;
  std::shared_ptr<TBaseTransport> GetTransport(std::int32_t id) override;
  std::shared_ptr<TBaseTransport> GetTransportByIndex(int index);
  int GetTransportCount();
  int TransportCount() { return GetTransportCount(); }
  int MasterCount();
  std::int32_t CreateTransportInplace(const Variant& props);
  void SetTransportStateInplace(std::int32_t id, std::int32_t state);
  void AbortConnection() { FAbortConnection.Set(); }
  Event& AbortEvent() { return FAbortConnection; }

  TBaseTransportTask* AddToGarbage(std::unique_ptr<TBaseTransportTask> task) override;
  void DestroyGarbage(TBaseTransportTask* task) override;
  std::size_t GarbageCount();

  void RegAnyTransportObj(std::shared_ptr<IAnyTransportObj> obj);
  void UnregAnyTransportObj(const IAnyTransportObj* obj);
  bool AnyTransportObjValid(const IAnyTransportObj* obj);
  void registerTransportProcess(const IAnyTransportObj* obj, std::uint32_t pid);
  void unregisterTransportProcess(const IAnyTransportObj* obj);
  void RegAnyMasterObj(std::shared_ptr<IAnyMasterObj> obj);
  void UnregAnyMasterObj(const IAnyMasterObj* obj);
  bool AnyMasterObjValid(const IAnyMasterObj* obj);
  void registerMasterProcess(const IAnyMasterObj* obj, std::uint32_t pid);
  void unregisterMasterProcess(const IAnyMasterObj* obj);

  // The client-process check; the clients timer runs it every interval on its own thread.
  void OnClientsTimer();
  void StartClientsTimer(std::uint32_t intervalMs = 1000);
  void StopClientsTimer();

  // True once every queued factory task has been carried out (for tests and orderly exits).
  bool WaitIdle(std::uint32_t timeoutMs);

 private:
  // A client object with the process ID of its client (0: none registered, not watched).
  template <class Obj>
  struct TObjListItem {
    std::shared_ptr<Obj> Object;
    std::uint32_t ProcessID = 0;
  };
  using TAnyTrListItem = TObjListItem<IAnyTransportObj>;
  using TAnyMaListItem = TObjListItem<IAnyMasterObj>;

  void Queue(TFactoryTask task);
  void Execute();
  void RunTask(TFactoryTask& task);
  void DoCreateTransport(TFactoryTask& task);
  void DoReleaseTransport(std::int32_t id);
  void DoFreeMaster(std::int32_t id);
  void DoLinkGone(std::int32_t id);
  std::vector<std::shared_ptr<IAnyTransportObj>> ObjectsBoundTo(std::int32_t transportID);
  // Finds a live transport that serves the link of props and takes a share of it.
  std::int32_t ShareTransport(const Variant& props);
  // Creates, sets up and connects a transport; nullptr when the link cannot be opened.
  std::shared_ptr<TBaseTransport> OpenTransport(std::int32_t type, const Variant& props,
                                                IAnyTransportObj* obj, Event* abort);

  IWorkerMaker& FMaker;
  TProcessCheck FIsRunning;

  std::mutex FQueueLock;
  std::deque<TFactoryTask> FTaskList;
  bool FBusy = false;
  std::condition_variable FIdle;
  Event FNewTaskEvent{true};
  Event FAbortConnection{true};

  RecursiveLock FMasterLock;
  std::vector<std::shared_ptr<TBaseMaster>> FMasterList;
  RecursiveLock FTransportLock;
  std::vector<std::shared_ptr<TBaseTransport>> FTransportList;

  std::recursive_mutex FObjLock;
  std::vector<TAnyTrListItem> FAnyTransportObjList;
  std::vector<TAnyMaListItem> FAnyMasterObjList;

  std::mutex FGarbageLock;
  std::unordered_map<TBaseTransportTask*, std::unique_ptr<TBaseTransportTask>> FGarbage;

  std::atomic<bool> FTerminated{false};
  std::thread FThread;

  std::mutex FTimerLock;
  std::condition_variable FTimerWake;
  bool FTimerStop = false;
  std::thread FClientsTimer;
};

}  // namespace tarvo
