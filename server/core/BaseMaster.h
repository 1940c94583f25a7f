#pragma once
// The base of every protocol master: a thread with a priority queue of requests, a list of
// requests sent and not yet answered, and the cancel operations.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "platform/sync/Clock.h"
#include "platform/sync/Event.h"
#include "platform/sync/RecursiveLock.h"
#include "platform/variant/Variant.h"
#include "server/core/Definitions.h"
#include "server/core/MasterTask.h"
#include "server/core/Worker.h"

namespace tarvo {

class TBaseMaster {
 public:
  // Receives every reply that is not in-place, on the master's thread.
  using TExchangeCallback = std::function<void(const Variant& reply)>;

  TBaseMaster(IWorkerDirectory& directory, TMasterType type, Clock& clock = SystemClock());
  // Concrete destructors call Shutdown() first.
  virtual ~TBaseMaster();
  TBaseMaster(const TBaseMaster&) = delete;
  TBaseMaster& operator=(const TBaseMaster&) = delete;

  std::int32_t GetID() const { return FID; }
  TMasterType GetMasterType() const { return FMasterType; }
  void SetTransportID(std::int32_t id);
  std::int32_t GetTransportID();
  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }
  RecursiveLock& LockObject() { return FLock; }

  // Stores the reply callback and the object it is bound to (kept alive while registered).
  void RegCOMObjCallback(TExchangeCallback callback, std::shared_ptr<void> owner);

  void CancelAllTasks();
  void CancelTask(std::int32_t qid);

  // The contract of a concrete master.
  // Runs the first queued task: removes it from the queue, or leaves it first to wait.
  virtual bool RunTask(TBaseMasterTask* task) = 0;
  // Frees a task that is discarded (a concrete master frees what the task holds).
  virtual void FreeCanceledTask(std::unique_ptr<TBaseMasterTask> task) { task.reset(); }
  // Called by the transport's thread, holding this master's lock, for every task coming back.
  virtual void ParseAnswer(TBaseTransportTask* task) = 0;
  virtual void SetProps(const Variant& props) = 0;
  // The base part counts the request.
  virtual void AddTask(const Variant& request);
  virtual void RunTaskInplace(const Variant& request, Variant& reply, std::int32_t timeout) = 0;
  virtual void DisconectTransport() {}
  // Called under the lock after a cancel marked tasks, so that a concrete master can release a
  // caller waiting for one of them.
  virtual void TasksCancelled() {}

  // The destruction protocol: sets FClosing, ends the thread and discards both lists.
  void Shutdown();

  std::uint32_t TasksAdded() const { return FTasksAdded; }
  std::uint32_t TasksProcessed() const { return FTasksProcesses; }

 protected:
  void Start();

  // Sorted insert: before the first task of a higher priority, so equal priorities stay FIFO.
  void PutTask(std::unique_ptr<TBaseMasterTask> task);
  TBaseMasterTask* GetFirstTask();
  std::unique_ptr<TBaseMasterTask> RemoveTask(TBaseMasterTask* task);
  std::unique_ptr<TBaseMasterTask> GetWaitTask(std::int32_t qid);
  void PutWaitTask(std::unique_ptr<TBaseMasterTask> task);
  bool HaveTasks();
  // Delivers a reply to the registered callback (errors in it are the callback's own).
  void InvokeExchange(const Variant& reply);

  IWorkerDirectory& Directory() { return FDirectory; }
  Clock& GetClock() { return FClock; }

  RecursiveLock FLock;  // guards the lists, FClosing and the settings
  bool FClosing = false;
  std::int32_t FTransportID = kNoID;
  TMasterType FMasterType;
  std::list<std::unique_ptr<TBaseMasterTask>> FTaskList;
  std::list<std::unique_ptr<TBaseMasterTask>> FWaitList;
  Event FNewTaskEvent{true};
  Event FInplaceEvent{false};
  Variant FInplaceCallValue;
  std::atomic<std::uint32_t> FTasksProcesses{0};
  std::atomic<std::uint32_t> FTasksAdded{0};

 private:
  void Execute();
  void Iterate();
  void DiscardAll();

  IWorkerDirectory& FDirectory;
  Clock& FClock;
  const std::int32_t FID;
  TExchangeCallback FInvokeExchangeEvent;
  std::shared_ptr<void> FCallbackOwner;
  TWorkerThread FThread;
  bool FShutDown = false;
};

}  // namespace tarvo
