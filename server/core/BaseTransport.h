#pragma once
// The base of every link: a thread that sends the frames of its queued transport tasks one at a
// time, repeats failed ones while they have attempts left, and hands each back to its master.

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "platform/sync/Clock.h"
#include "platform/sync/Event.h"
#include "platform/sync/RecursiveLock.h"
#include "platform/variant/Variant.h"
#include "server/core/Definitions.h"
#include "server/core/TransportTask.h"
#include "server/core/Worker.h"

namespace tarvo {

class TBaseTransport {
 public:
  TBaseTransport(IWorkerDirectory& directory, TTransportType type, Clock& clock = SystemClock());
  // Concrete destructors call Shutdown() first, so the loop never runs into a half-destroyed
  // object.
  virtual ~TBaseTransport();
  TBaseTransport(const TBaseTransport&) = delete;
  TBaseTransport& operator=(const TBaseTransport&) = delete;

  std::int32_t GetID() const { return FID; }
  TTransportType GetTransportType() const { return FTransportType; }
  bool DelayedConnect() const { return FDelayedConnect; }

  void Lock() { FLock.lock(); }
  void Unlock() { FLock.unlock(); }
  RecursiveLock& LockObject() { return FLock; }

  // Share count of client links; the factory keeps it.
  void AddAnyRef();
  void RemofeAnyRef();
  bool AnyRefsLeft();

  void CancelAllTasks(std::int32_t masterID);
  void CancelTask(std::int32_t masterID, std::int32_t qid);

  // The contract of a concrete link.
  // Applies task.Props, sends Bufsize bytes of Buf and, when an answer is awaited, receives it
  // into FTempBuf/FTempBufSize; true when sent (and answered, if awaited).
  virtual bool RunTask(TBaseTransportTask& task) = 0;
  virtual void AddLogTask(const TBaseTransportTask& task, std::int32_t direction, bool result);
  virtual std::string MainConnectionOptions() { return ""; }
  // Prepares the task (a concrete transport sets RetriesLeft and its timing fields, then calls
  // the base), queues it unless closing and wakes the loop. The transport owns it from now on.
  virtual void AddTask(TBaseTransportTask* task);
  virtual void SetProps(const Variant& props) = 0;
  virtual bool Connect(Event* abortEvent) = 0;
  virtual void Disconnect() = 0;
  virtual bool CompareProps(const Variant& props) = 0;
  // A task of the class this transport uses, registered in the garbage list.
  virtual TBaseTransportTask* CreateTask();

  // The abort signal that ends abortable waits (the factory's abort event); nullptr: none.
  void SetAbortEvent(Event* abortEvent);

  // Waits for `handle` (nullptr: nothing to wait for) up to ms; true when the time ran out (or
  // there was nothing to wait for), false when `handle` was signalled. An abortable wait also
  // ends on the abort event, which it resets before raising TAbortError.
  bool CustomWait(Event* handle, std::uint32_t ms, bool abortable);

  void AddErrLogTask(const std::string& text);
  static std::string PropsToStr(const Variant& value);

  bool Closing() {
    std::lock_guard lock(FLock);
    return FClosing;
  }
  // Marks the link closing: nothing queued is sent any more, the loop discards it.
  void BeginClose();

  // Holds the loop between two tasks, so that the factory can close the link under it.
  void Suspend();
  void Resume();

  // The destruction protocol: sets FClosing, ends the thread and frees what is still queued.
  // Safe to call twice.
  void Shutdown();

  std::uint32_t TasksAdded() const { return FTasksAdded; }
  std::uint32_t TasksProcessed() const { return FTasksProcesses; }

 protected:
  // Called by the concrete constructor when it is fully built.
  void Start();

  void PutTask(TBaseTransportTask* task);
  TBaseTransportTask* GetFirstTask();
  bool HaveTasks();
  IWorkerDirectory& Directory() { return FDirectory; }
  Clock& GetClock() { return FClock; }

  bool FDelayedConnect = false;
  RecursiveLock FLock;  // guards the queue, FClosing and the concrete transport's settings
  bool FClosing = false;
  std::array<std::uint8_t, kTaskBufSize> FTempBuf{};
  std::uint32_t FTempBufSize = 0;
  TTransportType FTransportType;

 private:
  void Execute();
  void Iterate();
  void HandBack(TBaseTransportTask* task);

  IWorkerDirectory& FDirectory;
  Clock& FClock;
  const std::int32_t FID;
  std::deque<TBaseTransportTask*> FTaskList;
  std::int32_t FAnyRef = 1;
  std::atomic<Event*> FAbortEventHandle{nullptr};
  Event FNewTaskEvent{true};
  std::atomic<std::uint32_t> FTasksProcesses{0};
  std::atomic<std::uint32_t> FTasksAdded{0};
  std::mutex FRunLock;  // held by the loop while it handles a task; Suspend takes it
  TWorkerThread FThread;
  bool FShutDown = false;
};

}  // namespace tarvo
