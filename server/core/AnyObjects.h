#pragma once
// The automation classes AnyTransport and AnyMaster: a client's handles on one link and on one
// protocol master. Each is thin: it keeps its properties and the ID of the worker it stands for
// and forwards to the factory and that worker; calls on one object are serialised by its lock.

#include <memory>
#include <mutex>

#include "platform/automation/Server.h"
#include "server/core/ServerFactory.h"

namespace tarvo {

class TAnyTransport : public automation::AutomationObject, public IAnyTransportObj {
 public:
  // Registers the new object with the factory (the object's construction).
  static std::shared_ptr<TAnyTransport> Create(TServerFactory& factory);
  explicit TAnyTransport(TServerFactory& factory);

  // IAnyTransport
  void SetProps(const Variant& props);
  void SetConnected(bool value);
  bool GetConnected();
  std::int32_t GetID();
  void AddTask(const Variant& task);
  // IClientsController
  void RegisterProcess(std::uint32_t pid);
  void UnregisterProcess(std::uint32_t pid);

  // What the factory needs.
  std::int32_t GetTransportID() override;
  void SetTransportID(std::int32_t id) override;  // SetID
  void RaiseState(std::int32_t state) override { InvokeStateChangeEvent(state); }
  void ClearBusy() override;
  void Disconnect() override;
  void CutOff() override { CutOffFromClients(); }

  // Records and raises the new state, only while a sink is connected.
  void InvokeStateChangeEvent(std::int32_t newState);

  std::vector<automation::MethodDef> Methods() override;
  std::vector<automation::SignalDef> Signals() override;

 protected:
  void OnRelease() override;  // the object's destruction

 private:
  TServerFactory& FFactory;
  std::int32_t FTransportID = kNoID;
  Variant FProps;
  std::recursive_mutex FLock;
  std::int32_t FState = 0;
  bool FBusy = false;
};

class TAnyMaster : public automation::AutomationObject, public IAnyMasterObj {
 public:
  static std::shared_ptr<TAnyMaster> Create(TServerFactory& factory);
  explicit TAnyMaster(TServerFactory& factory);

  // IAnyMaster
  void AddTask(const Variant& request);
  void SetProps(const Variant& props);
  void SetTransportID(std::int32_t id);
  void FreeTask(std::int32_t qid);
  void FreeAllTasks();
  Variant AddInplaceTask(const Variant& request, std::int32_t timeout);
  // IClientsController
  void RegisterProcess(std::uint32_t pid);
  void UnregisterProcess(std::uint32_t pid);

  void CutOff() override { CutOffFromClients(); }
  // The master's reply callback.
  void InvokeExchangeEvent(const Variant& reply);

  std::int32_t MasterID();

  std::vector<automation::MethodDef> Methods() override;
  std::vector<automation::SignalDef> Signals() override;

 protected:
  void OnRelease() override;

 private:
  std::shared_ptr<TBaseMaster> BoundMaster(const char* where);

  TServerFactory& FFactory;
  Variant FProps;
  std::int32_t FMasterID = kNoID;
  std::int32_t FTransportID = kNoID;
  std::recursive_mutex FLock;
};

// Puts both classes into the server's class factory.
void RegisterAnyClasses(automation::AutomationServer& server, TServerFactory& factory);

}  // namespace tarvo
