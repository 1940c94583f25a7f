#pragma once
// The server half of the automation boundary over D-Bus.
//
// A class factory object creates objects by class name; each object belongs to the connection
// that created it (calls from any other connection are refused) and is released when its owner
// releases it, when the owner leaves the bus, or when the server cuts it off. An object has at
// most one event sink (Advise); its events are signals addressed to the sink only. Incoming calls
// are decoded on the bus thread and carried out on a small pool of threads, one call of an
// object at a time and in the order they arrived, so a slow call never blocks another object.

#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IObject.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/automation/Bus.h"
#include "platform/variant/Variant.h"

namespace tarvo::automation {

using Args = std::vector<Variant>;

// An error a method raises for its caller: it reaches the client as a D-Bus error carrying the
// message. Any other std::exception does too, with the name kErrorName.
class AutomationError : public std::runtime_error {
 public:
  explicit AutomationError(const std::string& message, std::string name = kErrorName)
      : std::runtime_error(message), name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

struct CallContext {
  std::string sender;  // unique bus name of the caller
  pid_t pid = 0;       // the caller's process, from the message credentials (0: unknown)
};

// One method: its D-Bus signature (one character per argument: i u b s o v) and its handler.
struct MethodDef {
  std::string interface, name, inSig, outSig;
  std::vector<std::string> inNames, outNames;
  std::function<Args(CallContext&, Args&)> handler;
};

struct SignalDef {
  std::string interface, name, sig;
  std::vector<std::string> names;
};

class AutomationServer;

class AutomationObject : public std::enable_shared_from_this<AutomationObject> {
 public:
  virtual ~AutomationObject() = default;

  // The methods (handlers bound to this object) and events of the class, asked once when the
  // object is put on the bus.
  virtual std::vector<MethodDef> Methods() = 0;
  virtual std::vector<SignalDef> Signals() = 0;

  // Sends an event to the sink. False, and nothing sent, when no sink is attached or the object
  // has left the bus. Callable from any thread.
  bool Emit(const std::string& interface, const std::string& member, const std::string& sig,
            const Args& args);
  bool HasSink() const;
  std::string Path() const;
  std::string Owner() const;

  // Forced disconnection: the object leaves the bus and is released as if its client had
  // released it. Returns at once; the release runs on the server's pool.
  void CutOffFromClients();

 protected:
  // The object's client references are all gone; called once, on a pool thread, after the
  // object's last call ended. The object has left the bus by then.
  virtual void OnRelease() {}

 private:
  friend class AutomationServer;
  friend struct ServerCore;
  std::weak_ptr<struct ServerCore> core_;
  mutable std::mutex busLock_;
  std::unique_ptr<sdbus::IObject> busObject_;
  std::string path_, owner_, sink_;
};

class AutomationServer {
 public:
  using Factory = std::function<std::shared_ptr<AutomationObject>(const CallContext&)>;

  struct Options {
    unsigned minThreads = 4;
    unsigned maxThreads = 64;  // a pool thread waits in every in-place call, so let it grow
  };

  // The connection is the server's; Start names it and runs its event loop.
  explicit AutomationServer(std::unique_ptr<sdbus::IConnection> connection);
  AutomationServer(std::unique_ptr<sdbus::IConnection> connection, Options options);
  ~AutomationServer();  // Stop
  AutomationServer(const AutomationServer&) = delete;
  AutomationServer& operator=(const AutomationServer&) = delete;

  void RegisterClass(const std::string& className, Factory factory);
  // Called on a pool thread each time the number of live objects changes.
  void OnObjectCount(std::function<void(std::size_t count)> listener);

  // Puts the factory object on the bus, takes the service name and runs the event loop on its
  // own thread. sdbus::Error when the name is taken (another server runs) or the bus refuses.
  void Start(const std::string& serviceName = kServiceName);
  // Leaves the bus, releases every object (OnRelease), stops the pool.
  void Stop();

  std::size_t ObjectCount() const;
  std::string UniqueName() const;

 private:
  std::shared_ptr<ServerCore> core_;
};

}  // namespace tarvo::automation
