#include "server/core/ServerSettings.h"

#include <iostream>

#include "common/Paths.h"
#include "platform/ini/IniFile.h"

namespace tarvo {

TServerSettings ReadServerSettings(const std::string& iniFileName) {
  const IniFile ini(iniFileName);
  TServerSettings s;
  s.HighPriority = ini.ReadBool("Main", "HighPriority", s.HighPriority);
  s.TenBitsForAll = ini.ReadBool("Main", "TenBitsForAll", s.TenBitsForAll);
  s.EthernetRs = ini.ReadBool("Main", "EthernetRs", s.EthernetRs);
  s.ByteTimeoutMultiplier = ini.ReadInteger("Com", "ByteTimeoutMultiplier", s.ByteTimeoutMultiplier);
  s.NoDebugMessages = ini.ReadBool("LogKeeper", "NoDebugMessages", s.NoDebugMessages);
  s.KeepLog = ini.ReadBool("LogKeeper", "KeepLog", s.KeepLog);
  return s;
}

std::string GetLogDir() { return GetAppDataDir() + "/Logs"; }

TLogKeeperOptions LogKeeperOptionsFrom(const std::string& iniFileName, const std::string& logDir) {
  const TServerSettings s = ReadServerSettings(iniFileName);
  TLogKeeperOptions o;
  o.LogDir = logDir;
  o.NoDebugMessages = s.NoDebugMessages;
  o.KeepLog = s.KeepLog;
  return o;
}

void WriteLogKeeperSettings(const std::string& iniFileName, const TLogKeeper& keeper) {
  try {
    IniFile ini(iniFileName);
    ini.WriteBool("LogKeeper", "NoDebugMessages", keeper.NoDebugMessages());
    ini.WriteBool("LogKeeper", "KeepLog", keeper.KeepLog());
  } catch (const std::exception& e) {
    std::cerr << "TarvoSrv: " << e.what() << "\n";
  }
}

}  // namespace tarvo
