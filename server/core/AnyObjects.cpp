#include "server/core/AnyObjects.h"

#include "platform/variant/OleToVar.h"
#include "server/core/LogKeeper.h"
#include "server/typelib/TypeLib.h"
#include "server/core/Worker.h"

namespace tarvo {

using automation::Args;
using automation::CallContext;
using automation::MethodDef;
using automation::SignalDef;

namespace {

Variant Normalised(const Variant& v) {
  Variant out;
  OleToVar(v, out);
  return out;
}

MethodDef Method(const char* iface, const char* name, const char* in, const char* out,
                 std::vector<std::string> inNames, std::vector<std::string> outNames,
                 std::function<Args(Args&)> body) {
  return {iface, name, in, out, std::move(inNames), std::move(outNames),
          [body = std::move(body)](CallContext&, Args& a) { return body(a); }};
}

}  // namespace

// AnyTransport

std::shared_ptr<TAnyTransport> TAnyTransport::Create(TServerFactory& factory) {
  auto obj = std::make_shared<TAnyTransport>(factory);
  factory.RegAnyTransportObj(obj);
  return obj;
}

TAnyTransport::TAnyTransport(TServerFactory& factory) : FFactory(factory) {}

void TAnyTransport::SetProps(const Variant& props) {
  std::lock_guard lock(FLock);
  // A two-dimensional array leaves the stored properties as they were.
  Variant normalised = FProps;
  OleToVar(props, normalised);
  FProps = std::move(normalised);
  if (FTransportID != kNoID) {
    std::shared_ptr<TBaseTransport> tr = FFactory.GetTransport(FTransportID);
    if (!tr) throw TAssertionError("ti in TAnyTransport.SetProps() is nil");
    tr->SetProps(FProps);
  }
}

void TAnyTransport::SetConnected(bool value) {
  std::lock_guard lock(FLock);
  if (FBusy) return;
  if (value && FTransportID == kNoID) {
    FState = stOpening;
    FBusy = true;
    try {
      FFactory.CreateTransport(std::static_pointer_cast<TAnyTransport>(shared_from_this()), FProps);
    } catch (...) {
      // Nothing was queued, so no outcome will ever clear the flag: the object would refuse
      // every later open.
      FState = stClosed;
      FBusy = false;
      throw;
    }
  } else if (!value && FTransportID != kNoID) {
    FState = stClosing;
    FFactory.ReleaseTransport(FTransportID);
    FTransportID = kNoID;
    InvokeStateChangeEvent(stClosed);
  }
}

bool TAnyTransport::GetConnected() {
  std::lock_guard lock(FLock);
  return FState == stOpen;
}

std::int32_t TAnyTransport::GetID() { return GetTransportID(); }

void TAnyTransport::AddTask(const Variant& task) {
  const std::int32_t command = Normalised(task).ToInt32();
  if (command == kTransportCommandAbort) FFactory.AbortConnection();
}

void TAnyTransport::RegisterProcess(std::uint32_t pid) { FFactory.registerTransportProcess(this, pid); }

void TAnyTransport::UnregisterProcess(std::uint32_t) { FFactory.unregisterTransportProcess(this); }

std::int32_t TAnyTransport::GetTransportID() {
  std::lock_guard lock(FLock);
  return FTransportID;
}

void TAnyTransport::SetTransportID(std::int32_t id) {
  std::lock_guard lock(FLock);
  FTransportID = id;
}

void TAnyTransport::ClearBusy() {
  std::lock_guard lock(FLock);
  FBusy = false;
}

void TAnyTransport::Disconnect() { SetConnected(false); }

void TAnyTransport::InvokeStateChangeEvent(std::int32_t newState) {
  std::lock_guard lock(FLock);
  if (!HasSink()) return;
  const std::int32_t old = FState;
  FState = newState;
  try {
    Emit(typelib::kIAnyTransportEvents, "OnStateChanged", "iii",
         {Variant(old), Variant(newState), Variant(FTransportID)});
  } catch (const std::exception& e) {
    LogDebug(std::string("TAnyTransport.InvokeStateChangeEvent: ") + e.what());
  }
}

void TAnyTransport::OnRelease() {
  FFactory.UnregAnyTransportObj(this);
  FFactory.ReleaseTransport(GetTransportID());
}

std::vector<MethodDef> TAnyTransport::Methods() {
  using namespace typelib;
  TAnyTransport* self = this;
  return {
      Method(kIAnyTransport, "SetProps", "v", "", {"AProps"}, {},
             [self](Args& a) { self->SetProps(a[0]); return Args{}; }),
      Method(kIAnyTransport, "SetConnected", "b", "", {"Value"}, {},
             [self](Args& a) { self->SetConnected(a[0].ToBool()); return Args{}; }),
      Method(kIAnyTransport, "GetConnected", "", "b", {}, {"Value"},
             [self](Args&) { return Args{Variant(self->GetConnected())}; }),
      Method(kIAnyTransport, "GetID", "i", "i", {"AID"}, {"AID"},
             [self](Args&) { return Args{Variant(self->GetID())}; }),
      Method(kIAnyTransport, "AddTask", "v", "", {"ATask"}, {},
             [self](Args& a) { self->AddTask(a[0]); return Args{}; }),
      Method(kIClientsController, "RegisterProcess", "u", "", {"ProcessID"}, {},
             [self](Args& a) { self->RegisterProcess(a[0].ToUInt32()); return Args{}; }),
      Method(kIClientsController, "UnregisterProcess", "u", "", {"ProcessID"}, {},
             [self](Args& a) { self->UnregisterProcess(a[0].ToUInt32()); return Args{}; }),
  };
}

std::vector<SignalDef> TAnyTransport::Signals() {
  return {{typelib::kIAnyTransportEvents, "OnStateChanged", "iii", {"AOldState", "ANewState", "AID"}}};
}

// AnyMaster

std::shared_ptr<TAnyMaster> TAnyMaster::Create(TServerFactory& factory) {
  auto obj = std::make_shared<TAnyMaster>(factory);
  factory.RegAnyMasterObj(obj);
  return obj;
}

TAnyMaster::TAnyMaster(TServerFactory& factory) : FFactory(factory) {}

std::shared_ptr<TBaseMaster> TAnyMaster::BoundMaster(const char* where) {
  std::shared_ptr<TBaseMaster> m = FFactory.GetMaster(FMasterID);
  if (!m) throw TAssertionError(std::string("mi in TAnyMaster.") + where + "() is nil");
  return m;
}

void TAnyMaster::SetProps(const Variant& props) {
  std::lock_guard lock(FLock);
  Variant normalised = FProps;
  OleToVar(props, normalised);
  FProps = std::move(normalised);
  if (FMasterID == kNoID) {
    // The master calls back through a weak reference, so a released object is not kept alive
    // by its own master; a callback in progress holds it until it returns.
    std::weak_ptr<TAnyMaster> weak = std::static_pointer_cast<TAnyMaster>(shared_from_this());
    FMasterID = FFactory.CreateMaster(
        FProps,
        [weak](const Variant& reply) {
          if (auto self = weak.lock()) self->InvokeExchangeEvent(reply);
        },
        nullptr);
  } else {
    BoundMaster("SetProps")->SetProps(FProps);
  }
}

void TAnyMaster::SetTransportID(std::int32_t id) {
  std::lock_guard lock(FLock);
  std::shared_ptr<TBaseMaster> m = BoundMaster("SetTransportID");
  FTransportID = id;
  m->SetTransportID(id);
}

void TAnyMaster::AddTask(const Variant& request) {
  std::lock_guard lock(FLock);
  if (FTransportID == kNoID) return;  // dropped: no reply will come
  BoundMaster("AddTask")->AddTask(Normalised(request));
}

void TAnyMaster::FreeTask(std::int32_t qid) {
  std::lock_guard lock(FLock);
  if (FTransportID == kNoID) return;
  BoundMaster("AddTask")->CancelTask(qid);
}

void TAnyMaster::FreeAllTasks() {
  std::lock_guard lock(FLock);
  if (FTransportID == kNoID) return;
  BoundMaster("AddTask")->CancelAllTasks();
}

Variant TAnyMaster::AddInplaceTask(const Variant& request, std::int32_t timeout) {
  std::lock_guard lock(FLock);  // held for the whole wait
  Variant reply;
  if (FTransportID == kNoID) return reply;
  BoundMaster("AddTask")->RunTaskInplace(Normalised(request), reply, timeout);
  return reply;
}

void TAnyMaster::RegisterProcess(std::uint32_t pid) { FFactory.registerMasterProcess(this, pid); }

void TAnyMaster::UnregisterProcess(std::uint32_t) { FFactory.unregisterMasterProcess(this); }

void TAnyMaster::InvokeExchangeEvent(const Variant& reply) {
  try {
    Emit(typelib::kIAnyMasterEvents, "OnExchange", "v", {reply});
  } catch (const std::exception& e) {
    LogDebug(std::string("TAnyMaster.InvokeExchangeEvent: ") + e.what());
  }
}

std::int32_t TAnyMaster::MasterID() {
  std::lock_guard lock(FLock);
  return FMasterID;
}

void TAnyMaster::OnRelease() {
  FFactory.UnregAnyMasterObj(this);
  FFactory.FreeMaster(MasterID());
}

std::vector<MethodDef> TAnyMaster::Methods() {
  using namespace typelib;
  TAnyMaster* self = this;
  return {
      Method(kIAnyMaster, "AddTask", "v", "", {"ATaskProps"}, {},
             [self](Args& a) { self->AddTask(a[0]); return Args{}; }),
      Method(kIAnyMaster, "SetProps", "v", "", {"AProps"}, {},
             [self](Args& a) { self->SetProps(a[0]); return Args{}; }),
      Method(kIAnyMaster, "SetTransportID", "i", "", {"AID"}, {},
             [self](Args& a) { self->SetTransportID(a[0].ToInt32()); return Args{}; }),
      Method(kIAnyMaster, "FreeTask", "i", "", {"AQID"}, {},
             [self](Args& a) { self->FreeTask(a[0].ToInt32()); return Args{}; }),
      Method(kIAnyMaster, "FreeAllTasks", "", "", {}, {},
             [self](Args&) { self->FreeAllTasks(); return Args{}; }),
      Method(kIAnyMaster, "AddInplaceTask", "vi", "v", {"ATaskProps", "ATimeout"}, {"ARetValue"},
             [self](Args& a) { return Args{self->AddInplaceTask(a[0], a[1].ToInt32())}; }),
      Method(kIClientsController, "RegisterProcess", "u", "", {"ProcessID"}, {},
             [self](Args& a) { self->RegisterProcess(a[0].ToUInt32()); return Args{}; }),
      Method(kIClientsController, "UnregisterProcess", "u", "", {"ProcessID"}, {},
             [self](Args& a) { self->UnregisterProcess(a[0].ToUInt32()); return Args{}; }),
  };
}

std::vector<SignalDef> TAnyMaster::Signals() {
  return {{typelib::kIAnyMasterEvents, "OnExchange", "v", {"AExchValue"}}};
}

void RegisterAnyClasses(automation::AutomationServer& server, TServerFactory& factory) {
  server.RegisterClass(typelib::kAnyTransportClass,
                       [&factory](const CallContext&) { return TAnyTransport::Create(factory); });
  server.RegisterClass(typelib::kAnyMasterClass,
                       [&factory](const CallContext&) { return TAnyMaster::Create(factory); });
}

}  // namespace tarvo
