#include <cstring>
#include <string>

#include "platform/text/Text.h"
#include "server/core/ReplyArray.h"
#include "server/modbus/ArchTime.h"
#include "server/modbus/Checksum.h"
#include "server/modbus/ModbusCodec.h"

namespace tarvo {

namespace {

std::uint32_t Read16(const std::uint8_t* b) { return static_cast<std::uint32_t>(b[0] << 8 | b[1]); }
std::uint32_t Read32(const std::uint8_t* b) { return Read16(b) << 16 | Read16(b + 2); }

int ExceptionResult(std::uint8_t code) {
  switch (code) {
    case 1: return mbcIFN;
    case 2: return mbcIDA;
    case 3: return mbcIDV;
    case 4: return mbcSDF;
    case 5: return mbcACK;
    case 6: return mbcSDB;
    case 7: return mbcNACK;
    case 8: return mbcMPE;
    default: return mbcUnknownError;
  }
}

// Register and archive values from byte 3 on, by the request's DataType.
int DecodeValues(const std::uint8_t* bytes, int n, const TModbusTask& t, Variant& value) {
  int pos = 3;
  const bool adjust = t.AdjustToWord;
  if (!t.DataType.IsArray()) {
    const std::int64_t code = t.DataType.ToInt64();
    if (t.DataCount <= 1) return BufToVar(bytes, n, pos, adjust, code, value);
    SafeArray a(static_cast<VarType>(code), 0, static_cast<std::uint32_t>(t.DataCount));
    for (std::int32_t k = 0; k < t.DataCount; ++k) {
      Variant item;
      int r = BufToVar(bytes, n, pos, adjust, code, item);
      if (r != mbcOK) return r;
      if (!item.IsEmpty()) a.SetFlat(static_cast<std::size_t>(k), std::move(item));
    }
    value = Variant(std::move(a));
    return mbcOK;
  }
  const SafeArray& codes = t.DataType.Array();
  const std::uint32_t fields = codes.Count();
  const std::uint32_t records = t.DataCount <= 1 ? 1 : static_cast<std::uint32_t>(t.DataCount);
  SafeArray a = t.DataCount <= 1 ? SafeArray(VT_VARIANT, 0, fields)
                                 : SafeArray(VT_VARIANT, {{0, records}, {0, fields}});
  for (std::uint32_t r = 0; r < records; ++r) {
    for (std::uint32_t f = 0; f < fields; ++f) {
      Variant item;
      int res = BufToVar(bytes, n, pos, adjust, codes.Flat(f).ToInt64(), item);
      if (res != mbcOK) return res;
      a.SetFlat(static_cast<std::size_t>(r) * fields + f, std::move(item));
    }
  }
  if (t.CallType == mbReadTimeArch2 && t.DataCount <= 1 && t.ArchTimeFieldIndex >= 0 &&
      static_cast<std::uint32_t>(t.ArchTimeFieldIndex) < fields) {
    const auto seconds = static_cast<std::uint32_t>(a.Flat(t.ArchTimeFieldIndex).ToInt64());
    if (TrimDate(t.ArchType, SecToDate(seconds, true)) != TrimDate(t.ArchType, t.ArchTime)) {
      value = Variant(std::move(a));
      return mbcWrongArchTime;
    }
  }
  value = Variant(std::move(a));
  return mbcOK;
}

int DecodeData(const std::uint8_t* bytes, int n, const TModbusTask& t, Variant& value) {
  switch (t.CallType) {
    case mbExchange: {
      SafeArray a(VT_UI1, 0, static_cast<std::uint32_t>(n - 2));
      for (int k = 2; k < n; ++k) a.SetFlat(static_cast<std::size_t>(k - 2), Variant(bytes[k]));
      value = Variant(std::move(a));
      return mbcOK;
    }
    case mbGetDevName:
      if (n < 3 || bytes[2] != n - 3) return mbcNotEnoughData;
      value = Variant(Cp1251ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes + 3), bytes[2])));
      return mbcOK;
    case mbReadHoldRegs: case mbReadInputRegs: case mbReadTimeArch: case mbReadIndexArch:
    case mbReadTimeArch2: {
      if (n < 3 || bytes[2] != n - 3) return mbcNotEnoughData;
      const std::int64_t expected = static_cast<std::int64_t>(t.DataSize) * t.DataCount + t.DataReminder;
      if (bytes[2] != expected) return mbcNotEnoughData;
      return DecodeValues(bytes, n, t, value);
    }
    case mbWriteHoldRegs: case mbWriteHoldCoils:
      return n == 6 ? mbcOK : mbcNotEnoughData;
    case mbReadHoldCoils: case mbReadInputCoils: {
      if (n < 3 || bytes[2] != n - 3 || bytes[2] != t.DataSize) return mbcNotEnoughData;
      if (t.DataCount < 1 || (t.DataCount + 7) / 8 > bytes[2]) return mbcNotEnoughData;
      if (t.DataCount == 1) {
        value = Variant((bytes[3] & 1) != 0);
        return mbcOK;
      }
      SafeArray a(VT_BOOL, 0, static_cast<std::uint32_t>(t.DataCount));
      for (std::int32_t k = 0; k < t.DataCount; ++k)
        a.SetFlat(static_cast<std::size_t>(k), Variant(((bytes[3 + k / 8] >> (k % 8)) & 1) != 0));
      value = Variant(std::move(a));
      return mbcOK;
    }
    case mbReadStatus:
      if (n != 3) return mbcNotEnoughData;
      value = Variant(bytes[2]);
      return mbcOK;
    case mbDiagnostics: {
      if (n != 6) return mbcNotEnoughData;
      SafeArray a(VT_UI2, 0, 2);
      a.SetFlat(0, Variant(static_cast<std::uint16_t>(Read16(bytes + 2))));
      a.SetFlat(1, Variant(static_cast<std::uint16_t>(Read16(bytes + 4))));
      value = Variant(std::move(a));
      return mbcOK;
    }
    default:  // a call type that cannot be built never gets an answer to decode
      return mbcWrongType;
  }
}

}  // namespace

int BufToVar(const std::uint8_t* bytes, int n, int& pos, bool adjustToWord, std::int64_t code,
             Variant& value) {
  auto need = [&](int count) { return pos >= 0 && count <= n - pos; };
  switch (code) {
    case VT_I1: case VT_UI1: {
      const int skip = adjustToWord ? 1 : 0;
      if (!need(skip + 1)) return mbcNotEnoughData;
      const std::uint8_t b = bytes[pos + skip];
      pos += skip + 1;
      value = code == VT_I1 ? Variant(static_cast<std::int8_t>(b)) : Variant(b);
      return mbcOK;
    }
    case VT_I2: case VT_UI2: {
      if (!need(2)) return mbcNotEnoughData;
      const auto w = static_cast<std::uint16_t>(Read16(bytes + pos));
      pos += 2;
      value = code == VT_I2 ? Variant(static_cast<std::int16_t>(w)) : Variant(w);
      return mbcOK;
    }
    case VT_I4: case VT_UI4: {
      if (!need(4)) return mbcNotEnoughData;
      const std::uint32_t d = Read32(bytes + pos);
      pos += 4;
      value = code == VT_I4 ? Variant(static_cast<std::int32_t>(d)) : Variant(d);
      return mbcOK;
    }
    case VT_R4: {
      if (!need(4)) return mbcNotEnoughData;
      const std::uint32_t d = Read32(bytes + pos);
      if ((d & 0x7F800000u) == 0x7F800000u) return mbcWrongFloat;
      float f;
      std::memcpy(&f, &d, sizeof f);
      pos += 4;
      value = Variant(f);
      return mbcOK;
    }
    default:
      return mbcOK;
  }
}

int ParseBuf(const std::uint8_t* bytes, int n, const TModbusTask& t, Variant& value) {
  if (n < 2) return mbcNotEnoughData;
  if (bytes[0] != t.DevAddr) return mbcWrongAddr;
  if ((bytes[1] & 0x7F) != t.FunNum) return mbcWrongFunNumber;
  if (bytes[1] & 0x80) {
    if (n < 3) return mbcNotEnoughData;  // an exception reply without its code
    return ExceptionResult(bytes[2]);
  }
  try {
    return DecodeData(bytes, n, t, value);
  } catch (const std::exception&) {
    // A data type code that converts to no value type, or a record field that is no number.
    return mbcUnknownError;
  }
}

int Parse(const TBaseTransportTask& answer, const TModbusTask& t, TFrameBuf& scratch,
          Variant& reply) {
  Variant value;
  int result = mbcOK;
  const std::uint8_t* buf = answer.Buf.data();
  const int size = answer.Bufsize < 0 ? 0 : answer.Bufsize;
  if (!answer.WaitForAnswer) {
    result = mbcOK;
  } else if (size > kTaskBufSize) {
    result = mbcNotEnoughData;
  } else if (t.Mode != mmASCII) {
    if (size <= 3) {
      result = mbcNoAnswer;
    } else {
      const std::uint16_t crc = CRC(buf, size - 2);
      if (static_cast<std::uint16_t>(buf[size - 2] << 8 | buf[size - 1]) != crc)
        result = mbcCheckSumError;
      else
        result = ParseBuf(buf, size - 2, t, value);
    }
  } else {
    if (size <= 0) {
      result = mbcNoAnswer;
    } else if (size <= 8 || (size - 1) % 2 != 0 || buf[0] != ':' || buf[size - 2] != 13 ||
               buf[size - 1] != 10) {
      result = mbcNotEnoughData;
    } else if (LRC(buf, size - 5, 1) != ToByte(buf, size - 4)) {
      result = mbcCheckSumError;
    } else {
      const int k = (size - 5) / 2;
      for (int i = 0; i < k; ++i) scratch[i] = ToByte(buf, 2 * i + 1);
      result = ParseBuf(scratch.data(), k, t, value);
    }
  }
  if (result != mbcOK) value = Variant();
  reply = MakeReply(t, std::move(value), result);
  return result;
}

}  // namespace tarvo
