#pragma once
// Names of the type library "TarvoSrv" 2.0 as they appear on the bus, for the server's objects
// and the clients' proxies alike. The library itself is TarvoSrv.xml beside this file; a test
// checks that the running server exports exactly that.

namespace tarvo::typelib {

inline constexpr char kLibraryName[] = "TarvoSrv";
inline constexpr char kLibraryVersion[] = "2.0";

inline constexpr char kIAnyTransport[] = "org.tarvo.TarvoSrv.IAnyTransport";
inline constexpr char kIAnyTransportEvents[] = "org.tarvo.TarvoSrv.IAnyTransportEvents";
inline constexpr char kIAnyMaster[] = "org.tarvo.TarvoSrv.IAnyMaster";
inline constexpr char kIAnyMasterEvents[] = "org.tarvo.TarvoSrv.IAnyMasterEvents";
inline constexpr char kIClientsController[] = "org.tarvo.TarvoSrv.IClientsController";

inline constexpr char kAnyTransportClass[] = "AnyTransport";
inline constexpr char kAnyMasterClass[] = "AnyMaster";

}  // namespace tarvo::typelib
