#pragma once
// What transports and masters share: their IDs, their thread priorities, the errors of their
// loops, and the directory through which they find each other.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/sync/Event.h"
#include "server/core/TransportTask.h"

namespace tarvo {

class TBaseTransport;
class TBaseMaster;

// A new ID for a transport or master: unique among the workers of the process, never -1.
std::int32_t NewWorkerID();

enum class TThreadClass { Normal, TimeCritical };
// Time-critical threads ask for a real-time scheduling class; without the privilege they keep
// the normal priority, and the log says so once.
void ApplyThreadClass(std::thread& thread, TThreadClass cls);

// The thread of a worker: started by the concrete class once it is fully built, ended by the
// destruction protocol.
class TWorkerThread {
 public:
  ~TWorkerThread() { Join(); }
  void Start(std::function<void()> body, TThreadClass cls);
  // Asks the loop to end, wakes it with `wake` and waits for it.
  void Stop(Event& wake);
  bool Terminated() const { return terminated_; }

 private:
  void Join();
  std::atomic<bool> terminated_{false};
  std::thread thread_;
};

// An internal consistency check failed; the text is fixed and English.
class TAssertionError : public std::logic_error {
 public:
  using std::logic_error::logic_error;
};

// The silent abort of an abortable wait: ends what the worker was doing without a log line of
// its own.
class TAbortError : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// How workers find each other and where transport tasks are kept until freed: the server
// factory, or a fake in tests.
class IWorkerDirectory {
 public:
  virtual ~IWorkerDirectory() = default;
  virtual std::shared_ptr<TBaseMaster> GetMaster(std::int32_t id) = 0;
  virtual std::shared_ptr<TBaseTransport> GetTransport(std::int32_t id) = 0;
  // Takes the task into the garbage list and returns it; it stays there until DestroyGarbage.
  virtual TBaseTransportTask* AddToGarbage(std::unique_ptr<TBaseTransportTask> task) = 0;
  // Takes the task out of the garbage list and frees it; nullptr and unknown tasks are ignored.
  virtual void DestroyGarbage(TBaseTransportTask* task) = 0;
};

}  // namespace tarvo
