#pragma once
// Client proxies of the type library's classes AnyTransport and AnyMaster: typed calls over the
// automation client. The interface names are those of TarvoSrv.xml.

#include <functional>
#include <memory>

#include "platform/automation/Client.h"
#include "server/typelib/TypeLib.h"

namespace tarvo::typelib {

class AnyTransportProxy {
 public:
  using StateHandler = std::function<void(std::int32_t oldState, std::int32_t newState, std::int32_t id)>;
  // Creates the server's object; with a handler, attaches this client as its event sink.
  AnyTransportProxy(automation::AutomationClient& client, StateHandler onStateChanged = nullptr);

  void SetProps(const Variant& props);
  void SetConnected(bool value);
  bool GetConnected();
  std::int32_t GetID();
  void AddTask(const Variant& command);
  void RegisterProcess(std::uint32_t pid);
  void UnregisterProcess(std::uint32_t pid);
  automation::RemoteObject& Object() { return *obj_; }

 private:
  std::shared_ptr<automation::RemoteObject> obj_;
};

class AnyMasterProxy {
 public:
  using ExchangeHandler = std::function<void(const Variant& reply)>;
  AnyMasterProxy(automation::AutomationClient& client, ExchangeHandler onExchange = nullptr);

  void AddTask(const Variant& request);
  void SetProps(const Variant& props);
  void SetTransportID(std::int32_t id);
  void FreeTask(std::int32_t qid);
  void FreeAllTasks();
  // The bus call waits a little longer than the in-place request may take.
  Variant AddInplaceTask(const Variant& request, std::int32_t timeout);
  void RegisterProcess(std::uint32_t pid);
  void UnregisterProcess(std::uint32_t pid);
  automation::RemoteObject& Object() { return *obj_; }

 private:
  std::shared_ptr<automation::RemoteObject> obj_;
};

}  // namespace tarvo::typelib
