#include "platform/automation/Bus.h"

#include <cstdlib>

namespace tarvo::automation {

BusSpec BusSpec::Parse(const std::string& text) {
  if (text.empty() || text == "session") return {BusKind::Session, {}};
  if (text == "system") return {BusKind::System, {}};
  return {BusKind::Address, text};
}

BusSpec BusSpec::FromEnvironment() {
  const char* bus = std::getenv("TARVO_BUS");
  return Parse(bus ? bus : "");
}

std::string BusSpec::Describe() const {
  switch (kind) {
    case BusKind::Session: return "the session bus";
    case BusKind::System: return "the system bus";
    case BusKind::Address: return "the bus at " + address;
    case BusKind::RemoteSystem: return "the system bus of " + address;
  }
  return {};
}

std::unique_ptr<sdbus::IConnection> OpenBus(const BusSpec& bus) {
  switch (bus.kind) {
    case BusKind::Session: return sdbus::createSessionBusConnection();
    case BusKind::System: return sdbus::createSystemBusConnection();
    case BusKind::Address: return sdbus::createSessionBusConnectionWithAddress(bus.address);
    case BusKind::RemoteSystem: return sdbus::createRemoteSystemBusConnection(bus.address);
  }
  return nullptr;
}

}  // namespace tarvo::automation
