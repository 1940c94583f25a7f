#pragma once
// Fakes of the workers and client objects, for tests and benchmarks of the worker base classes
// and the factory: a link that answers as a test scripts it, a master that sends the bytes of a
// request and returns what came back, and client objects that record what they were told.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "server/core/BaseMaster.h"
#include "server/core/BaseTransport.h"
#include "server/core/ServerFactory.h"

namespace tarvo::testing {

// What fake links share with the test that scripts them.
struct FakeLinkScript {
  std::mutex lock;
  std::condition_variable changed;
  bool connectOk = true;
  std::int32_t retries = 0;  // RetriesLeft given to each task
  bool delayedConnect = false;
  bool gateOpen = true;  // RunTask waits while closed
  bool connectGateOpen = true;  // Connect waits while closed
  int inRunTask = 0;
  // Answer of the device: returns false for "no answer". Default: echo the frame.
  std::function<bool(const TBaseTransportTask&, std::vector<std::uint8_t>&)> answer;
  bool recordSent = true;
  std::vector<std::vector<std::uint8_t>> sent;  // every frame handed to RunTask
  int serviceSent = 0;
  int connects = 0, disconnects = 0;

  void SetGate(bool open) {
    std::lock_guard l(lock);
    gateOpen = open;
    changed.notify_all();
  }
  void SetConnectGate(bool open) {
    std::lock_guard l(lock);
    connectGateOpen = open;
    changed.notify_all();
  }
  // Waits (real time, bounded) until pred holds.
  bool WaitFor(const std::function<bool()>& pred, int ms = 5000) {
    std::unique_lock l(lock);
    return changed.wait_for(l, std::chrono::milliseconds(ms), pred);
  }
  std::size_t SentCount() {
    std::lock_guard l(lock);
    return sent.size();
  }
};

// A link named by element 1 of its property array; links with the same name are shared.
class FakeTransport : public TBaseTransport {
 public:
  FakeTransport(IWorkerDirectory& dir, TTransportType type, FakeLinkScript& script)
      : TBaseTransport(dir, type), script_(script) {
    FDelayedConnect = script.delayedConnect;
    Start();
  }
  ~FakeTransport() override { Shutdown(); }

  bool RunTask(TBaseTransportTask& task) override {
    std::unique_lock l(script_.lock);
    ++script_.inRunTask;
    script_.changed.notify_all();
    script_.changed.wait(l, [&] { return script_.gateOpen; });
    --script_.inRunTask;
    if (task.TaskType == ttService) {
      ++script_.serviceSent;
      script_.changed.notify_all();
      return true;
    }
    if (script_.recordSent) {
      script_.sent.emplace_back(task.Buf.begin(), task.Buf.begin() + task.Bufsize);
      script_.changed.notify_all();
    }
    if (!task.WaitForAnswer) return true;
    if (!script_.answer) {  // echo
      std::copy(task.Buf.begin(), task.Buf.begin() + task.Bufsize, FTempBuf.begin());
      FTempBufSize = static_cast<std::uint32_t>(task.Bufsize);
      return true;
    }
    std::vector<std::uint8_t> reply(task.Buf.begin(), task.Buf.begin() + task.Bufsize);
    if (!script_.answer(task, reply)) return false;
    std::copy(reply.begin(), reply.end(), FTempBuf.begin());
    FTempBufSize = static_cast<std::uint32_t>(reply.size());
    return true;
  }
  void AddTask(TBaseTransportTask* task) override {
    {
      std::lock_guard l(FLock);
      std::lock_guard s(script_.lock);
      task->RetriesLeft = script_.retries;
    }
    TBaseTransport::AddTask(task);
  }
  void SetProps(const Variant& props) override {
    name_ = props.Array().At(1).ToString();
  }
  bool Connect(Event*) override {
    std::unique_lock l(script_.lock);
    script_.changed.wait(l, [&] { return script_.connectGateOpen; });
    ++script_.connects;
    return script_.connectOk;
  }
  void Disconnect() override {
    std::lock_guard l(script_.lock);
    ++script_.disconnects;
    script_.changed.notify_all();
  }
  bool CompareProps(const Variant& props) override {
    return props.Array().At(1).ToString() == name_;
  }
  // Queues a frame of the transport's own that no master ever sees.
  void QueueServiceTask() {
    TBaseTransportTask* t = CreateTask();
    t->TaskType = ttService;
    t->Bufsize = 1;
    TBaseTransport::AddTask(t);
  }
  using TBaseTransport::CustomWait;

 private:
  FakeLinkScript& script_;
  std::string name_;
};

// A request of the fake master: the bytes to send, or an answer that came back.
struct FakeRequest : TBaseMasterTask {
  std::vector<std::uint8_t> bytes;
  TBaseTransportTask* answer = nullptr;
};

// Sends each request's bytes as one frame; the reply is [QID, array of the answer's bytes].
class FakeMaster : public TBaseMaster {
 public:
  explicit FakeMaster(IWorkerDirectory& dir) : TBaseMaster(dir, mtMB) { Start(); }
  ~FakeMaster() override { Shutdown(); }

  // Queues a request with these bytes (the array form is the fakes' own).
  void Send(std::int32_t qid, std::vector<std::uint8_t> bytes) {
    auto r = std::make_unique<FakeRequest>();
    r->QID = qid;
    r->Priority = kPriorityOneShot;
    r->bytes = std::move(bytes);
    PutTask(std::move(r));
    FNewTaskEvent.Set();
    ++FTasksAdded;
  }

  bool RunTask(TBaseMasterTask* task) override {
    auto* r = static_cast<FakeRequest*>(task);
    std::unique_ptr<TBaseMasterTask> owned = RemoveTask(task);
    if (r->answer) {
      std::unique_ptr<TBaseMasterTask> sent = GetWaitTask(r->QID);
      if (sent && !sent->Canceled) {
        SafeArray bytes(VT_UI1, 0, static_cast<std::uint32_t>(r->answer->Bufsize));
        for (int k = 0; k < r->answer->Bufsize; ++k)
          bytes.SetFlat(k, Variant(r->answer->Buf[k]));
        Variant reply(SafeArray::Of(VT_VARIANT, {Variant(r->QID), Variant(std::move(bytes))}));
        ++FTasksProcesses;
        InvokeExchange(reply);
      }
      if (sent) FreeCanceledTask(std::move(sent));
      FreeCanceledTask(std::move(owned));
      return true;
    }
    std::shared_ptr<TBaseTransport> tr = Directory().GetTransport(GetTransportID());
    if (!tr) {
      FreeCanceledTask(std::move(owned));
      return false;
    }
    tr->Lock();
    TBaseTransportTask* t = tr->CreateTask();
    tr->Unlock();
    std::copy(r->bytes.begin(), r->bytes.end(), t->Buf.begin());
    t->Bufsize = static_cast<std::int32_t>(r->bytes.size());
    t->MasterID = GetID();
    t->QID = r->QID;
    PutWaitTask(std::move(owned));
    tr->AddTask(t);
    return true;
  }
  void FreeCanceledTask(std::unique_ptr<TBaseMasterTask> task) override {
    if (auto* r = dynamic_cast<FakeRequest*>(task.get()); r && r->answer)
      Directory().DestroyGarbage(r->answer);
  }
  void ParseAnswer(TBaseTransportTask* task) override {
    auto a = std::make_unique<FakeRequest>();
    a->QID = task->QID;
    a->Priority = kPriorityAnswer;
    a->answer = task;
    a->Canceled = false;
    PutTask(std::move(a));
    FNewTaskEvent.Set();
  }
  void SetProps(const Variant&) override {}
  void RunTaskInplace(const Variant&, Variant&, std::int32_t) override {}
};

class FakeMaker : public IWorkerMaker {
 public:
  explicit FakeMaker(FakeLinkScript& script) : script_(script) {}
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type, IWorkerDirectory& dir) override {
    if (type < ttRS232 || type > ttUSB) return nullptr;
    return std::make_shared<FakeTransport>(dir, static_cast<TTransportType>(type), script_);
  }
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t type, IWorkerDirectory& dir) override {
    if (type != mtMB) return nullptr;
    return std::make_shared<FakeMaster>(dir);
  }

 private:
  FakeLinkScript& script_;
};

// A client link object that records its states; Disconnect releases its link as the real one.
class FakeAnyTransport : public IAnyTransportObj {
 public:
  explicit FakeAnyTransport(TServerFactory& factory) : factory_(factory) {}
  std::int32_t GetTransportID() override { return id_; }
  void SetTransportID(std::int32_t id) override { id_ = id; }
  void RaiseState(std::int32_t state) override {
    std::lock_guard l(lock_);
    states_.push_back({state, id_.load()});
    changed_.notify_all();
  }
  void ClearBusy() override { busy_ = false; }
  void Disconnect() override {
    const std::int32_t id = id_.exchange(kNoID);
    if (id != kNoID) factory_.ReleaseTransport(id);
    ++disconnects_;
  }
  void CutOff() override { ++cutOffs_; }

  // Waits (real time, bounded) for the n-th state report and returns it as {state, id}.
  std::pair<std::int32_t, std::int32_t> State(std::size_t n, int ms = 5000) {
    std::unique_lock l(lock_);
    if (!changed_.wait_for(l, std::chrono::milliseconds(ms), [&] { return states_.size() > n; }))
      return {-100, -100};
    return states_[n];
  }
  std::size_t StateCount() {
    std::lock_guard l(lock_);
    return states_.size();
  }
  std::atomic<bool> busy_{true};
  std::atomic<int> disconnects_{0};
  std::atomic<int> cutOffs_{0};

 private:
  TServerFactory& factory_;
  std::atomic<std::int32_t> id_{kNoID};
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::pair<std::int32_t, std::int32_t>> states_;
};

class FakeAnyMaster : public IAnyMasterObj {
 public:
  void CutOff() override { ++cutOffs_; }
  std::atomic<int> cutOffs_{0};
};

inline Variant LinkProps(int type, const std::string& name) {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(type), Variant(name)}));
}

inline Variant MasterProps(int type = mtMB) {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(type), Variant(1), Variant(0), Variant(0),
                                            Variant(1), Variant(false), Variant(false)}));
}

}  // namespace tarvo::testing
