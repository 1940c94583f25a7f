#pragma once
// The server's switches in its settings file, with their defaults, and the log keeper's two keys
// that are read at start and written back at exit.

#include <cstdint>
#include <string>

#include "server/core/LogKeeper.h"

namespace tarvo {

struct TServerSettings {
  bool HighPriority = false;   // [Main]
  bool TenBitsForAll = true;   // [Main]: ModBus without parity uses two stop bits
  bool EthernetRs = false;     // [Main]
  std::int32_t ByteTimeoutMultiplier = 5;  // [Com]
  bool NoDebugMessages = true;  // [LogKeeper]
  bool KeepLog = true;          // [LogKeeper]
};

// A missing file or key gives the default.
TServerSettings ReadServerSettings(const std::string& iniFileName);

// The log folder: the server's data folder followed by "/Logs".
std::string GetLogDir();

// The keeper's options: its two keys from the settings file and the given log folder.
TLogKeeperOptions LogKeeperOptionsFrom(const std::string& iniFileName, const std::string& logDir);

// Writes the keeper's two keys back, so that they exist after the first run. A file that cannot
// be written is reported on standard error: the log is gone by then.
void WriteLogKeeperSettings(const std::string& iniFileName, const TLogKeeper& keeper);

}  // namespace tarvo
