#pragma once
// Which bus a program talks on, and the connections to it.

#include <sdbus-c++/IConnection.h>

#include <memory>
#include <string>

namespace tarvo::automation {

inline constexpr char kServiceName[] = "org.tarvo.TarvoSrv";
inline constexpr char kFactoryPath[] = "/org/tarvo/TarvoSrv";
inline constexpr char kFactoryInterface[] = "org.tarvo.TarvoSrv.ClassFactory";
// Advise, Unadvise and Release: what every object of the server has.
inline constexpr char kObjectInterface[] = "org.tarvo.TarvoSrv.IObject";
inline constexpr char kInterfacePrefix[] = "org.tarvo.TarvoSrv.";
inline constexpr char kErrorName[] = "org.tarvo.TarvoSrv.Error";
inline constexpr char kAccessDeniedName[] = "org.freedesktop.DBus.Error.AccessDenied";
inline constexpr char kUnknownObjectName[] = "org.freedesktop.DBus.Error.UnknownObject";

enum class BusKind { Session, System, Address, RemoteSystem };

struct BusSpec {
  BusKind kind = BusKind::Session;
  std::string address;  // Address: a D-Bus address; RemoteSystem: [user@]host for SSH
  // "session" (also empty), "system", or a D-Bus address such as "unix:path=/run/x".
  static BusSpec Parse(const std::string& text);
  // $TARVO_BUS, or the session bus.
  static BusSpec FromEnvironment();
  static BusSpec Remote(const std::string& host) { return {BusKind::RemoteSystem, host}; }
  std::string Describe() const;
};

// A connection without a well-known name; sdbus::Error when the bus cannot be reached.
std::unique_ptr<sdbus::IConnection> OpenBus(const BusSpec& bus);

}  // namespace tarvo::automation
