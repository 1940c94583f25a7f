#include "server/typelib/AnyProxies.h"

#include <algorithm>

namespace tarvo::typelib {

using automation::Args;

AnyTransportProxy::AnyTransportProxy(automation::AutomationClient& client, StateHandler handler)
    : obj_(client.CreateObject(kAnyTransportClass)) {
  if (handler) {
    obj_->OnEvent(kIAnyTransportEvents, "OnStateChanged", "iii", [handler](const Args& a) {
      handler(a[0].ToInt32(), a[1].ToInt32(), a[2].ToInt32());
    });
    obj_->Advise();
  }
}

void AnyTransportProxy::SetProps(const Variant& props) {
  obj_->Call(kIAnyTransport, "SetProps", "v", {props}, "");
}
void AnyTransportProxy::SetConnected(bool value) {
  obj_->Call(kIAnyTransport, "SetConnected", "b", {Variant(value)}, "");
}
bool AnyTransportProxy::GetConnected() {
  return obj_->Call(kIAnyTransport, "GetConnected", "", {}, "b")[0].ToBool();
}
std::int32_t AnyTransportProxy::GetID() {
  return obj_->Call(kIAnyTransport, "GetID", "i", {Variant(std::int32_t{-1})}, "i")[0].ToInt32();
}
void AnyTransportProxy::AddTask(const Variant& command) {
  obj_->Call(kIAnyTransport, "AddTask", "v", {command}, "");
}
void AnyTransportProxy::RegisterProcess(std::uint32_t pid) {
  obj_->Call(kIClientsController, "RegisterProcess", "u", {Variant(pid)}, "");
}
void AnyTransportProxy::UnregisterProcess(std::uint32_t pid) {
  obj_->Call(kIClientsController, "UnregisterProcess", "u", {Variant(pid)}, "");
}

AnyMasterProxy::AnyMasterProxy(automation::AutomationClient& client, ExchangeHandler handler)
    : obj_(client.CreateObject(kAnyMasterClass)) {
  if (handler) {
    obj_->OnEvent(kIAnyMasterEvents, "OnExchange", "v",
                  [handler](const Args& a) { handler(a[0]); });
    obj_->Advise();
  }
}

void AnyMasterProxy::AddTask(const Variant& request) {
  obj_->Call(kIAnyMaster, "AddTask", "v", {request}, "");
}
void AnyMasterProxy::SetProps(const Variant& props) {
  obj_->Call(kIAnyMaster, "SetProps", "v", {props}, "");
}
void AnyMasterProxy::SetTransportID(std::int32_t id) {
  obj_->Call(kIAnyMaster, "SetTransportID", "i", {Variant(id)}, "");
}
void AnyMasterProxy::FreeTask(std::int32_t qid) {
  obj_->Call(kIAnyMaster, "FreeTask", "i", {Variant(qid)}, "");
}
void AnyMasterProxy::FreeAllTasks() { obj_->Call(kIAnyMaster, "FreeAllTasks", "", {}, ""); }
Variant AnyMasterProxy::AddInplaceTask(const Variant& request, std::int32_t timeout) {
  const std::uint64_t wait = 60'000 + static_cast<std::uint64_t>(std::clamp(timeout, 0, 600'000));
  return obj_->Call(kIAnyMaster, "AddInplaceTask", "vi", {request, Variant(timeout)}, "v",
                    wait)[0];
}
void AnyMasterProxy::RegisterProcess(std::uint32_t pid) {
  obj_->Call(kIClientsController, "RegisterProcess", "u", {Variant(pid)}, "");
}
void AnyMasterProxy::UnregisterProcess(std::uint32_t pid) {
  obj_->Call(kIClientsController, "UnregisterProcess", "u", {Variant(pid)}, "");
}

}  // namespace tarvo::typelib
