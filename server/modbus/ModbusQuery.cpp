#include <cstring>

#include "server/modbus/Checksum.h"
#include "server/modbus/ModbusCodec.h"

namespace tarvo {

namespace {

void Set16(TFrameBuf& buf, bool ascii, std::uint32_t v, int& len) {
  SetBuf(buf, ascii, static_cast<std::uint8_t>(v >> 8), len);
  SetBuf(buf, ascii, static_cast<std::uint8_t>(v), len);
}

void Set32(TFrameBuf& buf, bool ascii, std::uint32_t v, int& len) {
  Set16(buf, ascii, v >> 16, len);
  Set16(buf, ascii, v, len);
}

// The checksum goes after the data; it must still fit the buffer.
void Raw(TFrameBuf& buf, std::uint8_t b, int& len) {
  if (len >= kTaskBufSize) throw FrameOverflowError();
  buf[len++] = b;
}

// RTU: the CRC of the whole frame; ASCII: the LRC of the characters after ':', then CR LF.
void AppendChecksum(TFrameBuf& buf, bool ascii, int& len) {
  if (ascii) {
    const std::uint8_t lrc = LRC(buf.data(), len - 1, 1);
    auto hex = FromByte(lrc);
    Raw(buf, hex[0], len);
    Raw(buf, hex[1], len);
    Raw(buf, 13, len);
    Raw(buf, 10, len);
  } else {
    const std::uint16_t crc = CRC(buf.data(), len);
    Raw(buf, static_cast<std::uint8_t>(crc >> 8), len);
    Raw(buf, static_cast<std::uint8_t>(crc), len);
  }
}

}  // namespace

void SetBuf(TFrameBuf& buf, bool ascii, std::uint8_t b, int& len) {
  if (len >= kTaskBufSize || len < 0) throw FrameOverflowError();
  if (ascii) {
    if (len + 2 > kTaskBufSize) throw FrameOverflowError();
    auto hex = FromByte(b);
    buf[len] = hex[0];
    buf[len + 1] = hex[1];
    len += 2;
  } else {
    buf[len++] = b;
  }
}

void VarToBuf(const Variant& value, TFrameBuf& buf, bool ascii, bool adjustToWord, int& len) {
  if (value.IsArray()) {
    for (const Variant& item : value.Array().Items()) VarToBuf(item, buf, ascii, adjustToWord, len);
    return;
  }
  switch (value.vt()) {
    case VT_I2: case VT_UI2:
      Set16(buf, ascii, static_cast<std::uint32_t>(value.RawInt()), len);
      break;
    case VT_I4: case VT_UI4:
      Set32(buf, ascii, static_cast<std::uint32_t>(value.RawInt()), len);
      break;
    case VT_R4: {
      float f = static_cast<float>(value.RawReal());
      std::uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      Set32(buf, ascii, bits, len);
      break;
    }
    case VT_I1: case VT_UI1:
      if (adjustToWord) SetBuf(buf, ascii, 0, len);
      SetBuf(buf, ascii, static_cast<std::uint8_t>(value.RawInt()), len);
      break;
    default:
      break;
  }
}

void BoolVarToBuf(const Variant& value, TFrameBuf& buf, bool ascii, std::uint8_t funNum, int& len) {
  if (value.Dims() > 1) return;
  if (funNum == 15) {
    if (!value.IsArray()) {
      SetBuf(buf, ascii, value.ToBool() ? 1 : 0, len);
      return;
    }
    const auto& items = value.Array().Items();
    std::uint8_t byte = 0;
    for (std::size_t k = 0; k < items.size(); ++k) {
      if (items[k].ToBool()) byte |= static_cast<std::uint8_t>(1u << (k % 8));
      if (k % 8 == 7) {
        SetBuf(buf, ascii, byte, len);
        byte = 0;
      }
    }
    if (items.size() % 8 != 0) SetBuf(buf, ascii, byte, len);
    return;
  }
  bool on = value.IsArray() ? (value.Array().Size() > 0 && value.Array().Flat(0).ToBool())
                            : value.ToBool();
  SetBuf(buf, ascii, on ? 0xFF : 0x00, len);
  SetBuf(buf, ascii, 0x00, len);
}

int FormQuery(TFrameBuf& buf, const TModbusTask& t) {
  const bool ascii = t.Mode == mmASCII;
  int len = 0;
  if (ascii) Raw(buf, ':', len);
  SetBuf(buf, ascii, t.DevAddr, len);
  SetBuf(buf, ascii, t.FunNum, len);
  const std::int64_t bytes = static_cast<std::int64_t>(t.DataSize) * t.DataCount;
  switch (t.CallType) {
    case mbExchange:
      if (t.Value.IsArray())
        for (const Variant& item : t.Value.Array().Items())
          SetBuf(buf, ascii, static_cast<std::uint8_t>(item.ToInt64() & 0xFF), len);
      break;
    case mbReadHoldRegs: case mbReadInputRegs:
      Set16(buf, ascii, t.RegAddr, len);
      Set16(buf, ascii, static_cast<std::uint32_t>(bytes / 2 + t.DataReminder), len);
      break;
    case mbWriteHoldRegs:
      Set16(buf, ascii, t.RegAddr, len);
      if (t.FunNum == 6) {
        VarToBuf(t.Value, buf, ascii, t.AdjustToWord, len);
      } else {
        Set16(buf, ascii, static_cast<std::uint32_t>(bytes / 2 + t.DataReminder), len);
        SetBuf(buf, ascii, static_cast<std::uint8_t>(bytes + t.DataReminder), len);
        VarToBuf(t.Value, buf, ascii, t.AdjustToWord, len);
        if (t.DataReminder == 1) SetBuf(buf, ascii, 0, len);
      }
      break;
    case mbReadHoldCoils: case mbReadInputCoils:
      Set16(buf, ascii, t.RegAddr, len);
      Set16(buf, ascii, static_cast<std::uint32_t>(t.DataCount), len);
      break;
    case mbWriteHoldCoils:
      Set16(buf, ascii, t.RegAddr, len);
      if (t.FunNum == 15) {
        Set16(buf, ascii, static_cast<std::uint32_t>(t.DataCount), len);
        SetBuf(buf, ascii, static_cast<std::uint8_t>(t.DataSize), len);
      }
      BoolVarToBuf(t.Value, buf, ascii, t.FunNum, len);
      break;
    case mbReadTimeArch: case mbReadTimeArch2:
      Set16(buf, ascii, t.ArchNum, len);
      Set16(buf, ascii, t.ArchCount, len);
      SetBuf(buf, ascii, 1, len);
      for (std::uint8_t b : {t.ArchSek, t.ArchMin, t.ArchHour, t.ArchDay, t.ArchMonth, t.ArchYear})
        SetBuf(buf, ascii, b, len);
      break;
    case mbReadIndexArch:
      Set16(buf, ascii, t.ArchNum, len);
      Set16(buf, ascii, t.ArchCount, len);
      SetBuf(buf, ascii, 0, len);
      Set16(buf, ascii, t.ArchIndex, len);
      break;
    case mbDiagnostics:
      Set16(buf, ascii, t.DiagSubFunc, len);
      Set16(buf, ascii, t.DiagData, len);
      break;
    default:  // mbGetDevName, mbReadStatus: address and function only
      break;
  }
  AppendChecksum(buf, ascii, len);
  return len;
}

int MakeFrame(const std::uint8_t* bytes, int n, TModbusMode mode, TFrameBuf& buf) {
  const bool ascii = mode == mmASCII;
  int len = 0;
  if (ascii) Raw(buf, ':', len);
  for (int k = 0; k < n; ++k) SetBuf(buf, ascii, bytes[k], len);
  AppendChecksum(buf, ascii, len);
  return len;
}

int CalcDataSize(const Variant& v, bool adjustToWord, bool isValue, int maxDims, int mask) {
  if (v.Dims() > maxDims) return -1;
  if (v.IsArray()) {
    // Two-dimensional values (when allowed) are sized element by element like vectors.
    int sum = 0;
    for (const Variant& item : v.Array().Items()) {
      int s = CalcDataSize(item, adjustToWord, isValue, maxDims, mask);
      if (s < 0) return -1;
      sum += s;
      if (sum > (1 << 24)) return -1;
    }
    return sum;
  }
  std::int64_t code;
  if (isValue) {
    code = v.vt() & mask;
  } else {
    try {
      code = v.ToInt64() & mask;
    } catch (const VariantError&) {
      return -1;
    }
  }
  switch (code) {
    case 2: case 18: return 2;
    case 3: case 4: case 19: return 4;
    case 11: return isValue ? 1 : -1;
    case 16: case 17: return adjustToWord ? 2 : 1;
    default: return -1;
  }
}

}  // namespace tarvo
