#include "tools/tarvoctl/CtlArrays.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tarvo::ctl {

namespace {

Variant Array(std::vector<Variant> items) {
  return Variant(SafeArray::Of(VT_VARIANT, std::move(items)));
}

Variant I4(std::int64_t v) { return Variant(static_cast<std::int32_t>(v)); }

// A single code as an integer; a record as an array of codes.
Variant DataTypeElement(const std::vector<std::int32_t>& codes) {
  if (codes.size() == 1) return I4(codes.front());
  std::vector<Variant> items;
  for (std::int32_t c : codes) items.push_back(I4(c));
  return Array(std::move(items));
}

}  // namespace

Variant TransportProps(const CtlOptions& o) {
  switch (o.link) {
    case LinkKind::RS232:
    case LinkKind::RS485: {
      const SerialLinkOptions& s = o.serial;
      const std::int32_t byteTimeout =
          s.byteTimeoutMs >= 0 ? s.byteTimeoutMs : std::max(SpeedCharGap(s.speedIndex), 0);
      std::vector<Variant> items;
      if (o.link == LinkKind::RS232) {
        items = {I4(ttRS232), Variant(s.port), I4(s.speedIndex), I4(s.flowControl),
                 I4(s.answerDelayMs), I4(byteTimeout), I4(s.attempts)};
      } else {
        items = {I4(ttRS485), Variant(s.port), I4(s.speedIndex), I4(s.answerDelayMs),
                 I4(byteTimeout), I4(s.attempts)};
      }
      return Array(std::move(items));
    }
    case LinkKind::None:
      break;
  }
  throw CtlUsageError("no link: give --rs232 PORT or --rs485 PORT");
}

Variant MasterProps(const CtlOptions& o) {
  const MasterOptions& m = o.master;
  return Array({I4(mtMB), I4(m.addr), I4(m.mode), I4(m.parity), I4(m.retries),
                Variant(m.adjustToWord), Variant(m.optimal)});
}

Variant RequestArray(const CtlOptions& o) {
  const RequestOptions& r = o.request;
  const Variant period = I4(o.periodMs);
  std::vector<Variant> items = {I4(r.call), I4(o.qid)};
  auto add = [&](std::initializer_list<Variant> more) {
    items.insert(items.end(), more.begin(), more.end());
  };
  switch (r.call) {
    case mbExchange: {
      std::vector<Variant> bytes;
      for (std::uint8_t b : r.bytes) bytes.push_back(Variant(b));
      add({I4(o.master.addr), I4(r.funNum), period, Array(std::move(bytes))});
      break;
    }
    case mbGetDevName:
      break;
    case mbReadHoldRegs:
    case mbReadInputRegs:
      add({period, I4(r.regAddr), DataTypeElement(r.dataType), I4(r.count)});
      break;
    case mbWriteHoldRegs:
    case mbWriteHoldCoils:
      add({period, I4(r.regAddr), r.value});
      break;
    case mbReadHoldCoils:
    case mbReadInputCoils:
      add({period, I4(r.regAddr), I4(r.count)});
      break;
    case mbReadTimeArch: {
      const DateTimeParts& t = r.archTime;
      // The device takes a two-digit year.
      add({I4(r.archNum), I4(r.count), I4(t.year % 100), I4(t.month), I4(t.day), I4(t.hour),
           I4(t.minute), I4(t.second), DataTypeElement(r.dataType)});
      break;
    }
    case mbReadIndexArch:
      add({I4(r.archNum), I4(r.count), I4(r.archIndex), DataTypeElement(r.dataType)});
      break;
    case mbReadStatus:
      add({period});
      break;
    case mbDiagnostics:
      add({period, I4(r.diagSubFunc), I4(r.diagData)});
      break;
    case mbReadTimeArch2:
      add({I4(r.archNum), I4(r.count), Variant::Date(EncodeOleDate(r.archTime)),
           DataTypeElement(r.dataType), I4(r.archType), I4(r.timeField)});
      break;
    default:
      break;
  }
  return Array(std::move(items));
}

}  // namespace tarvo::ctl
