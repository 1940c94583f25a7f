#include "server/modbus/ArchTime.h"

#include "platform/variant/OleDate.h"

namespace tarvo {

double TrimDate(int granularity, double dateTime) {
  DateTimeParts p = DecodeOleDate(dateTime);
  p.msec = 0;
  if (granularity == 0 || granularity == 1 || granularity == 2) p.second = p.minute = 0;
  if (granularity == 1 || granularity == 2) p.hour = 0;
  if (granularity == 2) p.day = 1;
  return EncodeOleDate(p);
}

double SecToDate(std::uint32_t seconds, bool fromUnixEpoch) {
  const std::int64_t epoch = fromUnixEpoch ? 0 : DaysFromCivil(1, 1, 1);
  DateTimeParts p;
  CivilFromDays(epoch + seconds / 86400, p.year, p.month, p.day);
  const std::uint32_t t = seconds % 86400;
  p.hour = static_cast<int>(t / 3600);
  p.minute = static_cast<int>(t / 60 % 60);
  p.second = static_cast<int>(t % 60);
  return EncodeOleDate(p);
}

}  // namespace tarvo
