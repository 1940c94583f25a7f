#include "tools/devsim/Faults.h"

#include "server/modbus/Checksum.h"
#include "server/modbus/ModbusCodec.h"

namespace tarvo::devsim {

std::vector<std::uint8_t> ShapeAnswer(std::vector<std::uint8_t> pdu, TModbusMode mode,
                                      const Faults& faults, std::mt19937& rng) {
  if (faults.wrongAddr && !pdu.empty()) pdu[0] = static_cast<std::uint8_t>(pdu[0] + 1);
  TFrameBuf buf{};
  int len = MakeFrame(pdu.data(), static_cast<int>(pdu.size()), mode, buf);
  if (faults.badChecksum) {
    if (mode == mmRTU) {
      buf[len - 1] ^= 0xFF;
    } else {
      // The two LRC characters sit just before CR LF; keep them valid hex, only wrong.
      auto chars = FromByte(static_cast<std::uint8_t>(ToByte(buf.data(), len - 4) ^ 0xFF));
      buf[len - 4] = chars[0];
      buf[len - 3] = chars[1];
    }
  }
  std::vector<std::uint8_t> out;
  std::uniform_int_distribution<int> byte(0, 255);
  for (int k = 0; k < faults.garbage; ++k) out.push_back(static_cast<std::uint8_t>(byte(rng)));
  out.insert(out.end(), buf.begin(), buf.begin() + len);
  return out;
}

}  // namespace tarvo::devsim
