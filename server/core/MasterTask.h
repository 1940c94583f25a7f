#pragma once
// Requests held by a master: the common head, and the ModBus request with every field the codec
// and the master's loop need.

#include <cstdint>

#include "platform/variant/Variant.h"
#include "server/core/Definitions.h"
#include "server/core/TransportTask.h"

namespace tarvo {

// Queue order of master tasks: lower goes first.
inline constexpr std::int32_t kPriorityAnswer = 0;
inline constexpr std::int32_t kPriorityOneShot = 1;
inline constexpr std::int32_t kPriorityPeriodic = 2;

struct TBaseMasterTask {
  virtual ~TBaseMasterTask() = default;

  std::int32_t QID = 0;
  bool Canceled = false;
  std::int32_t Priority = kPriorityOneShot;
  std::int32_t TimesRunned = 0;
  bool Inplace = false;  // the caller waits synchronously for the reply
};

struct TModbusTask : TBaseMasterTask {
  std::int32_t FRetriesLeft = 0;
  bool RetriesLeft() const { return FRetriesLeft > 0; }

  TMasterTaskType TaskType = mtForm;
  TModBusCallType CallType = mbExchange;
  std::uint8_t DevAddr = 0;  // 0: broadcast, no answer expected
  TModbusMode Mode = mmRTU;
  TModbusParity Parity = mpNone;
  bool AdjustToWord = false;  // one-byte values take a whole register
  bool OptimalUseFunction = false;  // single-item writes use functions 6 and 5
  std::uint8_t FunNum = 0;
  std::uint32_t RegAddr = 0;
  std::uint32_t Period = 0;  // ms; 0 for a one-shot request
  std::int32_t DataCount = 0;
  std::int32_t DataSize = 0;  // bytes of one item (registers, archives) or in all (coils)
  std::int32_t DataReminder = 0;
  Variant Value;  // values to write, or the data bytes of an exchange
  Variant DataType;  // a data type code, or an array of codes describing one record
  std::int32_t Retries = 0;
  std::uint32_t NextRunTime = 0;  // tick count at which a periodic request is due
  bool WrongType = false;  // cannot be built: answered with mbcWrongType, nothing sent
  std::uint16_t ArchNum = 0;
  std::uint16_t ArchCount = 0;
  std::uint16_t ArchIndex = 0;
  std::uint8_t ArchYear = 0, ArchMonth = 0, ArchDay = 0, ArchHour = 0, ArchMin = 0, ArchSek = 0;
  std::uint8_t ArchType = 0;  // granularity of the time check: 0 hour, 1 day, 2 month
  double ArchTime = 0;  // OLE date of the first record (mbReadTimeArch2)
  std::int32_t ArchTimeFieldIndex = -1;  // record field holding the record's time; <0: no check
  std::uint16_t DiagSubFunc = 0;
  std::uint16_t DiagData = 0;
  // mtParse: the answer to parse. It belongs to this task, which frees it through the factory's
  // garbage list when it is discarded.
  TBaseTransportTask* ttask = nullptr;
};

}  // namespace tarvo
