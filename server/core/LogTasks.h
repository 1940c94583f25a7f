#pragma once
// The records producers hand to the log keeper; the keeper owns a record once it is queued.

#include <array>
#include <cstdint>
#include <string>

#include "server/core/TransportTask.h"

namespace tarvo {

enum TLogKeeperTaskType : std::int32_t {
  ltSimple = 0,
  ltTransportData = 1,
  ltTransportState = 2,  // nothing produces it yet; written as the time stamp alone
};

// TTransportDataLogTask::Direction
inline constexpr std::int32_t kLogDirectionIn = 0;
inline constexpr std::int32_t kLogDirectionOut = 1;

// What every log line starts with: when the record was made and whether it is a debug line.
struct TBaseLogTask {
  explicit TBaseLogTask(TLogKeeperTaskType type = ltTransportState) : FTaskType(type) {}
  virtual ~TBaseLogTask() = default;

  TLogKeeperTaskType FTaskType;
  double DateStamp = 0;  // OLE date-time
  bool Debug = false;
};

// One line of text: an action (Russian) or a debug line (English), UTF-8.
struct TSimpleLogTask : TBaseLogTask {
  TSimpleLogTask() : TBaseLogTask(ltSimple) {}
  std::string Text;
};

// A record about one transport.
struct TTransportLogTask : TBaseLogTask {
  explicit TTransportLogTask(TLogKeeperTaskType type = ltTransportState) : TBaseLogTask(type) {}
  std::int32_t TransportID = kNoID;
};

// A copy of one frame a transport sent or received.
struct TTransportDataLogTask : TTransportLogTask {
  TTransportDataLogTask() : TTransportLogTask(ltTransportData) {}
  std::array<std::uint8_t, kTaskBufSize> Buf{};
  std::int32_t Bufsize = 0;  // valid bytes of Buf
  std::int32_t Direction = kLogDirectionIn;
  bool Result = false;  // false: the exchange failed and Buf holds nothing
};

}  // namespace tarvo
