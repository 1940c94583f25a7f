#pragma once
// The client half of the automation boundary: create the server's objects on a bus, call them,
// attach a sink and receive their events on a thread or event loop of the caller's choice.

#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IProxy.h>

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/automation/Bus.h"
#include "platform/variant/Variant.h"

namespace tarvo::automation {

using Args = std::vector<Variant>;

// A call the server refused or that failed on the way: the D-Bus error name and the server's text.
class RemoteError : public std::runtime_error {
 public:
  RemoteError(std::string name, const std::string& message)
      : std::runtime_error(message), name_(std::move(name)) {}
  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

class RemoteObject;

class AutomationClient : public std::enable_shared_from_this<AutomationClient> {
 public:
  // Runs the connection's event loop on its own thread. sdbus::Error when the bus is unreachable.
  static std::shared_ptr<AutomationClient> Connect(const BusSpec& bus = BusSpec::FromEnvironment(),
                                                   std::string service = kServiceName);
  ~AutomationClient();
  AutomationClient(const AutomationClient&) = delete;
  AutomationClient& operator=(const AutomationClient&) = delete;

  // Where events are delivered: by default on the connection's own thread. A caller with an
  // event loop gives a function that queues the work onto it.
  using Dispatcher = std::function<void(std::function<void()>)>;
  void SetEventDispatcher(Dispatcher dispatcher);

  // Creates an object of the class (the bus starts the server when it is registered for
  // activation). RemoteError when the server refuses or cannot be reached.
  std::shared_ptr<RemoteObject> CreateObject(const std::string& className);

  std::string UniqueName() const;
  sdbus::IConnection& Connection() { return *conn_; }

 private:
  friend class RemoteObject;
  AutomationClient(std::unique_ptr<sdbus::IConnection> conn, std::string service);
  void Deliver(std::function<void()> work);

  std::unique_ptr<sdbus::IConnection> conn_;
  std::string service_;
  std::unique_ptr<sdbus::IProxy> factory_;
  std::mutex dispatcherLock_;
  Dispatcher dispatcher_;
};

class RemoteObject {
 public:
  ~RemoteObject();  // Release, ignoring errors
  RemoteObject(const RemoteObject&) = delete;
  RemoteObject& operator=(const RemoteObject&) = delete;

  // Calls a method; inSig/outSig give one D-Bus type per argument (i u b s o v). timeoutMs 0:
  // the bus default (25 s).
  Args Call(const std::string& interface, const std::string& method, const std::string& inSig,
            const Args& in, const std::string& outSig, std::uint64_t timeoutMs = 0);

  // Registers an event handler; call before Advise. The handler gets the decoded arguments.
  void OnEvent(const std::string& interface, const std::string& member, const std::string& sig,
               std::function<void(const Args&)> handler);
  void Advise();
  void Unadvise();
  // Releases the server's object; later calls fail. Idempotent.
  void Release();

  const std::string& Path() const { return path_; }
  const std::string& ServerName() const { return server_; }

 private:
  friend class AutomationClient;
  RemoteObject(std::shared_ptr<AutomationClient> client, std::string server, std::string path);

  std::shared_ptr<AutomationClient> client_;
  std::string server_, path_;
  std::unique_ptr<sdbus::IProxy> proxy_;
  bool registered_ = false;
  bool released_ = false;
};

}  // namespace tarvo::automation
