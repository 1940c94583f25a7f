#include "platform/automation/Server.h"

#include <sdbus-c++/Error.h>
#include <sdbus-c++/Message.h>
#include <sdbus-c++/Types.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <set>
#include <thread>
#include <unordered_map>

#include "platform/automation/Wire.h"

namespace tarvo::automation {

namespace {

// Threads that grow when every one of them is busy (in-place calls wait inside the pool).
class Pool {
 public:
  Pool(unsigned minThreads, unsigned maxThreads)
      : min_(std::max(1u, minThreads)), max_(std::max(min_, maxThreads)) {}
  ~Pool() { Stop(); }

  void Post(std::function<void()> job) {
    std::lock_guard lock(m_);
    if (stop_) return;
    q_.push_back(std::move(job));
    if (idle_ < q_.size() && threads_.size() < max_) Spawn();
    cv_.notify_one();
  }
  // Carries out what is queued, then ends the threads.
  void Stop() {
    {
      std::lock_guard lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    for (std::thread& t : threads_)
      if (t.joinable() && t.get_id() != std::this_thread::get_id()) t.join();
    for (std::thread& t : threads_)
      if (t.joinable()) t.detach();
    threads_.clear();
  }
  void Start() {
    std::lock_guard lock(m_);
    while (threads_.size() < min_) Spawn();
  }

 private:
  void Spawn() {  // m_ held
    ++idle_;
    threads_.emplace_back([this] { Run(); });
  }
  void Run() {
    std::unique_lock lock(m_);
    for (;;) {
      cv_.wait(lock, [this] { return stop_ || !q_.empty(); });
      if (q_.empty()) break;  // stopping and drained
      std::function<void()> job = std::move(q_.front());
      q_.pop_front();
      --idle_;
      lock.unlock();
      try {
        job();
      } catch (...) {
        // A job reports its own errors to its caller; nothing may end a pool thread.
      }
      // Gone before the lock is taken again: a job holds bus messages, whose release takes the
      // bus library's lock, which the bus thread holds while it posts here.
      job = nullptr;
      lock.lock();
      ++idle_;
    }
  }

  const unsigned min_, max_;
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
  std::vector<std::thread> threads_;
  std::size_t idle_ = 0;
  bool stop_ = false;
};

void ReplyError(const sdbus::MethodCall& call, const std::string& name, const std::string& text) {
  if (call.doesntExpectReply()) return;
  try {
    call.createErrorReply(sdbus::Error(name, text)).send();
  } catch (const sdbus::Error&) {
    // The caller has gone.
  }
}

std::vector<std::string> Names(const std::vector<std::string>& given, const std::string& sig,
                               const char* stem) {
  std::vector<std::string> n = given;
  for (std::size_t i = n.size(); i < sig.size(); ++i) n.push_back(stem + std::to_string(i));
  n.resize(sig.size());
  return n;
}

}  // namespace

struct ServerCore : std::enable_shared_from_this<ServerCore> {
  struct Entry {
    std::shared_ptr<AutomationObject> obj;
    std::deque<std::function<void()>> jobs;
    bool running = false;
    bool released = false;
  };

  std::unique_ptr<sdbus::IConnection> conn;
  AutomationServer::Options options;
  Pool pool;
  std::unique_ptr<sdbus::IObject> factoryObject;
  std::map<std::string, AutomationServer::Factory> classes;
  std::function<void(std::size_t)> countListener;
  std::atomic<bool> stopping{false};
  std::atomic<std::uint64_t> nextId{1};

  mutable std::mutex lock;  // the registry below
  std::unordered_map<std::string, Entry> objects;
  std::set<std::string> departed;  // owners seen leaving, so a late creation is released
  std::deque<std::string> departedOrder;
  std::size_t liveCount = 0;

  ServerCore(std::unique_ptr<sdbus::IConnection> c, AutomationServer::Options o)
      : conn(std::move(c)), options(o), pool(o.minThreads, o.maxThreads) {}

  // Runs job after the object's earlier jobs; false when the object is unknown or released.
  bool Enqueue(const std::string& path, std::function<void()> job) {
    std::lock_guard l(lock);
    auto it = objects.find(path);
    if (it == objects.end() || it->second.released) return false;
    it->second.jobs.push_back(std::move(job));
    if (!it->second.running) {
      it->second.running = true;
      std::weak_ptr<ServerCore> weak = weak_from_this();
      pool.Post([weak, path] {
        if (auto core = weak.lock()) core->RunJobs(path);
      });
    }
    return true;
  }

  void RunJobs(const std::string& path) {
    for (;;) {
      std::function<void()> job;
      {
        std::lock_guard l(lock);
        auto it = objects.find(path);
        if (it == objects.end()) return;
        if (it->second.jobs.empty()) {
          if (it->second.released) objects.erase(it);
          else it->second.running = false;
          return;
        }
        job = std::move(it->second.jobs.front());
        it->second.jobs.pop_front();
      }
      job();
    }
  }

  void NotifyCount() {
    std::size_t n;
    {
      std::lock_guard l(lock);
      n = liveCount;
    }
    if (countListener) countListener(n);
  }

  // Takes the object off the bus and releases it; the object's queue keeps its order, so calls
  // that arrived earlier are answered first and later ones find the object gone.
  void Release(const std::string& path) {
    std::shared_ptr<AutomationObject> obj;
    {
      std::lock_guard l(lock);
      auto it = objects.find(path);
      if (it == objects.end() || it->second.released) return;
      it->second.released = true;
      obj = it->second.obj;
      --liveCount;
    }
    std::unique_ptr<sdbus::IObject> busObject;
    {
      std::lock_guard l(obj->busLock_);
      busObject = std::move(obj->busObject_);
      obj->sink_.clear();
    }
    busObject.reset();
    try {
      obj->OnRelease();
    } catch (...) {
    }
    {
      std::lock_guard l(lock);
      auto it = objects.find(path);
      // Jobs queued after the release answer "unknown object" themselves.
      if (it != objects.end() && it->second.jobs.empty()) objects.erase(it);
      else if (it != objects.end()) it->second.obj.reset();
    }
    NotifyCount();
  }

  void RequestRelease(const std::string& path) {
    std::weak_ptr<ServerCore> weak = weak_from_this();
    Enqueue(path, [weak, path] {
      if (auto core = weak.lock()) core->Release(path);
    });
  }

  void OwnerGone(const std::string& name) {
    std::vector<std::string> paths;
    {
      std::lock_guard l(lock);
      departed.insert(name);
      departedOrder.push_back(name);
      if (departedOrder.size() > 4096) {
        departed.erase(departedOrder.front());
        departedOrder.pop_front();
      }
      for (auto& [path, e] : objects)
        if (!e.released && e.obj && e.obj->owner_ == name) paths.push_back(path);
    }
    for (const std::string& p : paths) RequestRelease(p);
  }

  std::shared_ptr<AutomationObject> Live(const std::string& path) {
    std::lock_guard l(lock);
    auto it = objects.find(path);
    if (it == objects.end() || it->second.released) return nullptr;
    return it->second.obj;
  }

  // The bus callback of one method of an object: checks the caller, decodes the arguments and
  // queues the call. Runs on the bus thread, so it never waits.
  void Dispatch(const std::string& path, const std::string& owner, const MethodDef& def,
                sdbus::MethodCall call) {
    const std::string sender = call.getSender();
    if (sender != owner) {
      ReplyError(call, kAccessDeniedName, "the object " + path + " belongs to another client");
      return;
    }
    auto args = std::make_shared<Args>();
    try {
      for (char c : def.inSig) args->push_back(ReadWireValue(call, std::string(1, c)));
    } catch (const std::exception& e) {
      ReplyError(call, "org.freedesktop.DBus.Error.InvalidArgs", e.what());
      return;
    }
    std::weak_ptr<ServerCore> weak = weak_from_this();
    auto handler = def.handler;
    const std::string outSig = def.outSig;
    const bool queued = Enqueue(path, [weak, path, call, args, handler, outSig, sender] {
      auto core = weak.lock();
      std::shared_ptr<AutomationObject> obj = core ? core->Live(path) : nullptr;
      if (!obj) {
        ReplyError(call, kUnknownObjectName, "the object " + path + " has been released");
        return;
      }
      CallContext ctx{sender, 0};
      Args out;
      try {
        out = handler(ctx, *args);
      } catch (const AutomationError& e) {
        ReplyError(call, e.name(), e.what());
        return;
      } catch (const std::exception& e) {
        ReplyError(call, kErrorName, e.what());
        return;
      }
      if (call.doesntExpectReply()) return;
      try {
        auto reply = call.createReply();
        for (std::size_t i = 0; i < outSig.size(); ++i)
          WriteTyped(reply, outSig[i], i < out.size() ? out[i] : Variant());
        reply.send();
      } catch (const std::exception& e) {
        ReplyError(call, kErrorName, e.what());
      }
    });
    if (!queued) ReplyError(call, kUnknownObjectName, "the object " + path + " has been released");
  }

  void Register(sdbus::IObject& bus, const std::string& path, const std::string& owner,
                const MethodDef& def) {
    std::weak_ptr<ServerCore> weak = weak_from_this();
    bus.registerMethod(def.interface, def.name, def.inSig, Names(def.inNames, def.inSig, "in"),
                       def.outSig, Names(def.outNames, def.outSig, "out"),
                       [weak, path, owner, def](sdbus::MethodCall call) {
                         if (auto core = weak.lock()) core->Dispatch(path, owner, def, std::move(call));
                       });
  }

  std::vector<MethodDef> ObjectMethods(const std::shared_ptr<AutomationObject>& obj) {
    std::weak_ptr<AutomationObject> weak = obj;
    std::vector<MethodDef> m;
    m.push_back({kObjectInterface, "Advise", "", "", {}, {}, [weak](CallContext& ctx, Args&) {
                   auto o = weak.lock();
                   if (!o) throw AutomationError("the object has been released", kUnknownObjectName);
                   std::lock_guard l(o->busLock_);
                   if (!o->sink_.empty())
                     throw AutomationError("the object already has an event sink");
                   o->sink_ = ctx.sender;
                   return Args{};
                 }});
    m.push_back({kObjectInterface, "Unadvise", "", "", {}, {}, [weak](CallContext& ctx, Args&) {
                   auto o = weak.lock();
                   if (!o) throw AutomationError("the object has been released", kUnknownObjectName);
                   std::lock_guard l(o->busLock_);
                   if (o->sink_ != ctx.sender) throw AutomationError("no event sink is attached");
                   o->sink_.clear();
                   return Args{};
                 }});
    std::weak_ptr<ServerCore> core = weak_from_this();
    m.push_back({kObjectInterface, "Release", "", "", {}, {}, [weak, core](CallContext&, Args&) {
                   auto o = weak.lock();
                   auto c = core.lock();
                   // Already inside the object's queue: release right after this call.
                   if (o && c) c->RequestRelease(o->path_);
                   return Args{};
                 }});
    return m;
  }

  std::string CreateObject(const std::string& className, const CallContext& ctx) {
    auto cls = classes.find(className);
    if (cls == classes.end()) throw AutomationError("no class named \"" + className + "\"");
    std::shared_ptr<AutomationObject> obj = cls->second(ctx);
    if (!obj) throw AutomationError("the class \"" + className + "\" could not create an object");
    const std::string path =
        std::string(kFactoryPath) + "/" + className + "/" + std::to_string(nextId++);
    obj->core_ = weak_from_this();
    obj->path_ = path;
    obj->owner_ = ctx.sender;
    auto bus = sdbus::createObject(*conn, path);
    for (const MethodDef& def : ObjectMethods(obj)) Register(*bus, path, ctx.sender, def);
    for (const MethodDef& def : obj->Methods()) Register(*bus, path, ctx.sender, def);
    for (const SignalDef& s : obj->Signals())
      bus->registerSignal(s.interface, s.name, s.sig, Names(s.names, s.sig, "arg"));
    bool gone;
    {
      std::lock_guard l(lock);
      objects[path].obj = obj;
      ++liveCount;
      gone = departed.count(ctx.sender) != 0;
    }
    {
      std::lock_guard l(obj->busLock_);
      obj->busObject_ = std::move(bus);
      obj->busObject_->finishRegistration();
    }
    NotifyCount();
    if (gone) RequestRelease(path);
    return path;
  }

  void Start(const std::string& serviceName) {
    pool.Start();
    factoryObject = sdbus::createObject(*conn, kFactoryPath);
    std::weak_ptr<ServerCore> weak = weak_from_this();
    factoryObject->registerMethod(
        kFactoryInterface, "CreateObject", "s", {"ClassName"}, "o", {"Path"},
        [weak](sdbus::MethodCall call) {
          auto core = weak.lock();
          if (!core) return;
          std::string className;
          CallContext ctx;
          try {
            call >> className;
            ctx.sender = call.getSender();
            try {
              ctx.pid = call.getCredsPid();
            } catch (const sdbus::Error&) {
              ctx.pid = 0;  // a bus that does not tell
            }
          } catch (const std::exception& e) {
            ReplyError(call, "org.freedesktop.DBus.Error.InvalidArgs", e.what());
            return;
          }
          core->pool.Post([weak, call, className, ctx] {
            auto core = weak.lock();
            if (!core || core->stopping) {
              ReplyError(call, kErrorName, "the server is stopping");
              return;
            }
            try {
              const std::string path = core->CreateObject(className, ctx);
              auto reply = call.createReply();
              reply << sdbus::ObjectPath(path);
              reply.send();
            } catch (const AutomationError& e) {
              ReplyError(call, e.name(), e.what());
            } catch (const std::exception& e) {
              ReplyError(call, kErrorName, e.what());
            }
          });
        });
    factoryObject->finishRegistration();
    conn->addMatch(
        "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
        "member='NameOwnerChanged'",
        [weak](sdbus::Message& msg) {
          auto core = weak.lock();
          if (!core) return;
          std::string name, oldOwner, newOwner;
          try {
            msg >> name >> oldOwner >> newOwner;
          } catch (const sdbus::Error&) {
            return;
          }
          if (newOwner.empty() && !name.empty() && name[0] == ':') core->OwnerGone(name);
        },
        sdbus::floating_slot);
    conn->requestName(serviceName);
    conn->enterEventLoopAsync();
  }

  void Stop() {
    if (stopping.exchange(true)) return;
    try {
      conn->leaveEventLoop();
    } catch (const sdbus::Error&) {
    }
    std::vector<std::string> paths;
    {
      std::lock_guard l(lock);
      for (auto& [path, e] : objects)
        if (!e.released) paths.push_back(path);
    }
    for (const std::string& p : paths) RequestRelease(p);
    pool.Stop();
    for (const std::string& p : paths) Release(p);  // what the pool did not reach
    factoryObject.reset();
  }
};

bool AutomationObject::Emit(const std::string& interface, const std::string& member,
                            const std::string& sig, const Args& args) {
  std::lock_guard l(busLock_);
  if (!busObject_ || sink_.empty()) return false;
  auto signal = busObject_->createSignal(interface, member);
  for (std::size_t i = 0; i < sig.size(); ++i)
    WriteTyped(signal, sig[i], i < args.size() ? args[i] : Variant());
  signal.setDestination(sink_);
  busObject_->emitSignal(signal);
  return true;
}

bool AutomationObject::HasSink() const {
  std::lock_guard l(busLock_);
  return busObject_ && !sink_.empty();
}

std::string AutomationObject::Path() const {
  std::lock_guard l(busLock_);
  return path_;
}

std::string AutomationObject::Owner() const {
  std::lock_guard l(busLock_);
  return owner_;
}

void AutomationObject::CutOffFromClients() {
  if (auto core = core_.lock()) core->RequestRelease(Path());
}

AutomationServer::AutomationServer(std::unique_ptr<sdbus::IConnection> connection)
    : AutomationServer(std::move(connection), Options{}) {}

AutomationServer::AutomationServer(std::unique_ptr<sdbus::IConnection> connection,
                                   Options options)
    : core_(std::make_shared<ServerCore>(std::move(connection), options)) {}

AutomationServer::~AutomationServer() { Stop(); }

void AutomationServer::RegisterClass(const std::string& className, Factory factory) {
  core_->classes[className] = std::move(factory);
}

void AutomationServer::OnObjectCount(std::function<void(std::size_t)> listener) {
  core_->countListener = std::move(listener);
}

void AutomationServer::Start(const std::string& serviceName) { core_->Start(serviceName); }

void AutomationServer::Stop() { core_->Stop(); }

std::size_t AutomationServer::ObjectCount() const {
  std::lock_guard l(core_->lock);
  return core_->liveCount;
}

std::string AutomationServer::UniqueName() const { return core_->conn->getUniqueName(); }

}  // namespace tarvo::automation
