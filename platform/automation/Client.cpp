#include "platform/automation/Client.h"

#include <sdbus-c++/Error.h>
#include <sdbus-c++/Message.h>
#include <sdbus-c++/Types.h>

#include "platform/automation/Wire.h"

namespace tarvo::automation {

namespace {

[[noreturn]] void Rethrow(const sdbus::Error& e) { throw RemoteError(e.getName(), e.getMessage()); }

}  // namespace

std::shared_ptr<AutomationClient> AutomationClient::Connect(const BusSpec& bus,
                                                            std::string service) {
  std::unique_ptr<sdbus::IConnection> conn;
  try {
    conn = OpenBus(bus);
  } catch (const sdbus::Error& e) {
    throw RemoteError(e.getName(), "cannot reach " + bus.Describe() + ": " + e.getMessage());
  }
  std::shared_ptr<AutomationClient> c(new AutomationClient(std::move(conn), std::move(service)));
  c->conn_->enterEventLoopAsync();
  return c;
}

AutomationClient::AutomationClient(std::unique_ptr<sdbus::IConnection> conn, std::string service)
    : conn_(std::move(conn)), service_(std::move(service)) {
  factory_ = sdbus::createProxy(*conn_, service_, kFactoryPath);
}

AutomationClient::~AutomationClient() {
  try {
    conn_->leaveEventLoop();
  } catch (const sdbus::Error&) {
  }
  factory_.reset();
}

void AutomationClient::SetEventDispatcher(Dispatcher dispatcher) {
  std::lock_guard l(dispatcherLock_);
  dispatcher_ = std::move(dispatcher);
}

void AutomationClient::Deliver(std::function<void()> work) {
  Dispatcher d;
  {
    std::lock_guard l(dispatcherLock_);
    d = dispatcher_;
  }
  if (d) d(std::move(work));
  else work();
}

std::string AutomationClient::UniqueName() const { return conn_->getUniqueName(); }

std::shared_ptr<RemoteObject> AutomationClient::CreateObject(const std::string& className) {
  std::string server;
  sdbus::ObjectPath path;
  try {
    auto call = factory_->createMethodCall(kFactoryInterface, "CreateObject");
    call << className;
    auto reply = factory_->callMethod(call);
    reply >> path;
    // Calls and events go to this very server process: if it is replaced, the object is gone.
    server = reply.getSender();
  } catch (const sdbus::Error& e) {
    Rethrow(e);
  }
  return std::shared_ptr<RemoteObject>(new RemoteObject(shared_from_this(), server, path));
}

RemoteObject::RemoteObject(std::shared_ptr<AutomationClient> client, std::string server,
                           std::string path)
    : client_(std::move(client)), server_(std::move(server)), path_(std::move(path)) {
  proxy_ = sdbus::createProxy(client_->Connection(), server_, path_);
}

RemoteObject::~RemoteObject() {
  try {
    Release();
  } catch (...) {
  }
  proxy_.reset();
}

Args RemoteObject::Call(const std::string& interface, const std::string& method,
                        const std::string& inSig, const Args& in, const std::string& outSig,
                        std::uint64_t timeoutMs) {
  if (released_) throw RemoteError(kUnknownObjectName, "the object has been released");
  Args out;
  try {
    auto call = proxy_->createMethodCall(interface, method);
    for (std::size_t i = 0; i < inSig.size(); ++i)
      WriteTyped(call, inSig[i], i < in.size() ? in[i] : Variant());
    auto reply = proxy_->callMethod(call, timeoutMs * 1000);
    for (char c : outSig) out.push_back(ReadWireValue(reply, std::string(1, c)));
  } catch (const sdbus::Error& e) {
    Rethrow(e);
  } catch (const WireError& e) {
    throw RemoteError(kErrorName, std::string("unreadable reply: ") + e.what());
  }
  return out;
}

void RemoteObject::OnEvent(const std::string& interface, const std::string& member,
                           const std::string& sig, std::function<void(const Args&)> handler) {
  std::weak_ptr<AutomationClient> weak = client_;
  proxy_->registerSignalHandler(interface, member, [weak, sig, handler](sdbus::Signal& signal) {
    auto client = weak.lock();
    if (!client) return;
    auto args = std::make_shared<Args>();
    try {
      for (char c : sig) args->push_back(ReadWireValue(signal, std::string(1, c)));
    } catch (const std::exception&) {
      return;  // not an event of ours
    }
    client->Deliver([handler, args] { handler(*args); });
  });
}

void RemoteObject::Advise() {
  if (!registered_) {
    proxy_->finishRegistration();
    registered_ = true;
  }
  Call(kObjectInterface, "Advise", "", {}, "");
}

void RemoteObject::Unadvise() { Call(kObjectInterface, "Unadvise", "", {}, ""); }

void RemoteObject::Release() {
  if (released_) return;
  released_ = true;
  try {
    auto call = proxy_->createMethodCall(kObjectInterface, "Release");
    proxy_->callMethod(call);
  } catch (const sdbus::Error& e) {
    if (e.getName() != kUnknownObjectName) Rethrow(e);
  }
}

}  // namespace tarvo::automation
