#include "server/modbus/ModbusRequest.h"

#include <algorithm>

#include "platform/variant/OleDate.h"
#include "server/modbus/ModbusCodec.h"

namespace tarvo {

namespace {

// Refusal of one request; caught inside ReadRequest only.
struct Refused {};

class Reader {
 public:
  explicit Reader(const SafeArray& a) : a_(a) {}

  const Variant& At(int i) const { return a_.At(i); }

  std::int64_t Ranged(int i, std::int64_t lo, std::int64_t hi) const {
    const std::int64_t v = a_.At(i).ToInt64();
    if (v < lo || v > hi) throw Refused{};
    return v;
  }
  std::uint8_t U8(int i) const { return static_cast<std::uint8_t>(Ranged(i, 0, 0xFF)); }
  std::uint16_t U16(int i) const { return static_cast<std::uint16_t>(Ranged(i, 0, 0xFFFF)); }
  std::int32_t I32(int i) const { return a_.At(i).ToInt32(); }
  // A negative period means no repetition; a period longer than the limit is shortened.
  std::uint32_t Period(int i) const {
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(a_.At(i).ToInt64(), 0, kMaxPeriodMs));
  }

 private:
  const SafeArray& a_;
};

bool IsIntegerVt(VarType vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_I8:
    case VT_UI8: case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// Every scalar of a register write must be one VarToBuf writes, or the byte count sent would
// not match the bytes that follow it.
bool AllWritableRegisterValues(const Variant& v) {
  if (v.IsArray()) {
    for (const Variant& item : v.Array().Items())
      if (!AllWritableRegisterValues(item)) return false;
    return true;
  }
  switch (v.vt()) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4: case VT_R4:
      return true;
    default:
      return false;
  }
}

// Coil values: Booleans, or integers taken as Booleans, one coil each.
int CountCoils(const Variant& v) {
  if (v.Dims() > 1) return -1;
  if (!v.IsArray()) return v.vt() == VT_BOOL || IsIntegerVt(v.vt()) ? 1 : -1;
  for (const Variant& item : v.Array().Items())
    if (item.IsArray() || !(item.vt() == VT_BOOL || IsIntegerVt(item.vt()))) return -1;
  return static_cast<int>(v.Array().Size());
}

void CoilSizes(TModbusTask& t) {
  t.DataReminder = t.DataCount % 8 != 0 ? 1 : 0;
  t.DataSize = t.DataCount / 8 + t.DataReminder;
}

void ReadRecordType(const Reader& r, int i, TModbusTask& t) {
  t.DataType = r.At(i);
  t.DataSize = CalcDataSize(t.DataType, t.AdjustToWord, false, 1, 23);
  if (t.DataSize < 1 || t.DataSize > 255) throw Refused{};
}

void ReadFields(const Reader& r, TModbusTask& t) {
  switch (t.CallType) {
    case mbExchange: {
      t.DevAddr = r.U8(2);
      t.FunNum = r.U8(3);
      t.Period = r.Period(4);
      t.Value = r.At(5);
      // The data bytes must be an array of numbers (each sent as its low 8 bits).
      if (!t.Value.IsArray() || t.Value.Dims() != 1) throw Refused{};
      for (const Variant& item : t.Value.Array().Items()) (void)item.ToInt64();
      break;
    }
    case mbGetDevName:
      t.FunNum = 17;
      break;
    case mbReadHoldRegs:
    case mbReadInputRegs: {
      t.FunNum = t.CallType == mbReadHoldRegs ? 3 : 4;
      t.Period = r.Period(2);
      t.RegAddr = static_cast<std::uint32_t>(r.Ranged(3, 0, 0xFFFF));
      t.DataType = r.At(4);
      t.DataCount = r.I32(5);
      t.DataSize = CalcDataSize(t.DataType, t.AdjustToWord, false, 1, 23);
      const std::int64_t bytes = static_cast<std::int64_t>(t.DataSize) * t.DataCount;
      if (t.DataSize < 1 || t.DataCount < 1 || bytes > 255) throw Refused{};
      t.DataReminder = static_cast<std::int32_t>(bytes % 2);
      break;
    }
    case mbWriteHoldRegs:
      t.FunNum = 16;
      t.Period = r.Period(2);
      t.RegAddr = static_cast<std::uint32_t>(r.Ranged(3, 0, 0xFFFF));
      t.Value = r.At(4);
      t.DataCount = 1;
      t.DataSize = CalcDataSize(t.Value, t.AdjustToWord, true, 2, 23);
      if (t.DataSize < 1 || t.DataSize > 255 || !AllWritableRegisterValues(t.Value)) throw Refused{};
      t.DataReminder = t.DataSize % 2;
      if (t.DataSize == 2 && t.OptimalUseFunction) t.FunNum = 6;
      break;
    case mbReadHoldCoils:
    case mbReadInputCoils:
      t.FunNum = t.CallType == mbReadHoldCoils ? 1 : 2;
      t.Period = r.Period(2);
      t.RegAddr = static_cast<std::uint32_t>(r.Ranged(3, 0, 0xFFFF));
      t.DataCount = r.I32(4);
      if (t.DataCount < 1) throw Refused{};
      CoilSizes(t);
      if (t.DataSize <= 0 || t.DataSize + t.DataReminder > 255) throw Refused{};
      break;
    case mbWriteHoldCoils:
      t.FunNum = 15;
      t.Period = r.Period(2);
      t.RegAddr = static_cast<std::uint32_t>(r.Ranged(3, 0, 0xFFFF));
      t.Value = r.At(4);
      t.DataCount = CountCoils(t.Value);
      if (t.DataCount < 1) throw Refused{};
      if (t.DataCount == 1 && t.OptimalUseFunction) t.FunNum = 5;
      CoilSizes(t);
      if (t.DataSize < 1 || t.DataSize > 255) throw Refused{};
      break;
    case mbReadTimeArch:
      t.FunNum = 65;
      t.ArchNum = r.U16(2);
      t.ArchCount = r.U16(3);
      t.ArchYear = r.U8(4);
      t.ArchMonth = r.U8(5);
      t.ArchDay = r.U8(6);
      t.ArchHour = r.U8(7);
      t.ArchMin = r.U8(8);
      t.ArchSek = r.U8(9);
      ReadRecordType(r, 10, t);
      t.DataCount = t.ArchCount;
      break;
    case mbReadIndexArch:
      t.FunNum = 65;
      t.ArchNum = r.U16(2);
      t.ArchCount = r.U16(3);
      t.ArchIndex = r.U16(4);
      ReadRecordType(r, 5, t);
      t.DataCount = t.ArchCount;
      break;
    case mbReadStatus:
      t.FunNum = 7;
      t.Period = r.Period(2);
      break;
    case mbDiagnostics:
      t.FunNum = 8;
      t.Period = r.Period(2);
      t.DiagSubFunc = r.U16(3);
      t.DiagData = r.U16(4);
      break;
    case mbReadTimeArch2: {
      t.FunNum = 65;
      t.ArchNum = r.U16(2);
      t.ArchCount = r.U16(3);
      t.ArchTime = r.At(4).ToDate();
      ReadRecordType(r, 5, t);
      t.ArchType = r.U8(6);
      t.ArchTimeFieldIndex = r.I32(7);
      t.DataCount = t.ArchCount;
      const DateTimeParts p = DecodeOleDate(t.ArchTime);
      if (p.year < 0) throw Refused{};
      t.ArchYear = static_cast<std::uint8_t>(p.year % 100);
      t.ArchMonth = static_cast<std::uint8_t>(p.month);
      t.ArchDay = static_cast<std::uint8_t>(p.day);
      t.ArchHour = static_cast<std::uint8_t>(p.hour);
      t.ArchMin = static_cast<std::uint8_t>(p.minute);
      t.ArchSek = static_cast<std::uint8_t>(p.second);
      break;
    }
    default:
      throw Refused{};
  }
}

}  // namespace

void ReadRequest(const Variant& request, TModbusTask& task) {
  try {
    if (!request.IsArray() || request.Dims() != 1) throw Refused{};
    Reader r(request.Array());
    const std::int64_t callType = r.At(0).ToInt64();
    task.CallType = static_cast<TModBusCallType>(callType & 0xFF);
    task.QID = r.I32(1);
    if (callType < 0 || callType > kLastSupportedCallType) throw Refused{};
    ReadFields(r, task);
  } catch (const Refused&) {
    task.WrongType = true;
  } catch (const VariantError&) {
    task.WrongType = true;
  }
  if (task.WrongType) task.Period = 0;
}

TModbusTask MakeRequest(const Variant& request, const TModbusSettings& s) {
  TModbusTask t;
  t.AdjustToWord = s.AdjustToWord;
  t.OptimalUseFunction = s.OptimalUseFunction;
  ReadRequest(request, t);
  t.TaskType = mtForm;
  if (t.CallType != mbExchange) t.DevAddr = s.DevAddr;
  t.Mode = s.Mode;
  t.Parity = s.Parity;
  t.Retries = s.Retries;
  t.FRetriesLeft = t.Retries;
  return t;
}

}  // namespace tarvo
