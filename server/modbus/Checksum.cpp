#include "server/modbus/Checksum.h"

namespace tarvo {

namespace {

// The two lookup tables of the serial-line form: they yield the CRC bytes in sending order.
struct CrcTables {
  std::uint8_t hi[256];
  std::uint8_t lo[256];
};

constexpr CrcTables MakeTables() {
  CrcTables t{};
  for (int n = 0; n < 256; ++n) {
    std::uint16_t crc = static_cast<std::uint16_t>(n);
    for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    t.hi[n] = static_cast<std::uint8_t>(crc & 0xFF);
    t.lo[n] = static_cast<std::uint8_t>(crc >> 8);
  }
  return t;
}

constexpr CrcTables kTables = MakeTables();

}  // namespace

std::uint16_t CRC(const std::uint8_t* bytes, int count) {
  std::uint8_t hi = 0xFF, lo = 0xFF;
  for (int k = 0; k < count; ++k) {
    std::uint8_t index = hi ^ bytes[k];
    hi = lo ^ kTables.hi[index];
    lo = kTables.lo[index];
  }
  return static_cast<std::uint16_t>(hi << 8 | lo);
}

std::uint8_t LRC(const std::uint8_t* chars, int count, int start) {
  std::uint8_t sum = 0;
  for (int k = start; k < start + count - 1; k += 2) sum = static_cast<std::uint8_t>(sum + ToByte(chars, k));
  return static_cast<std::uint8_t>(~sum + 1);
}

std::array<std::uint8_t, 2> FromByte(std::uint8_t b) {
  auto hex = [](int nibble) {
    return static_cast<std::uint8_t>(nibble < 10 ? '0' + nibble : 'A' + nibble - 10);
  };
  return {hex(b >> 4), hex(b & 0x0F)};
}

std::uint8_t ToByte(const std::uint8_t* chars, int pos) {
  auto nibble = [](std::uint8_t c) { return c > '9' ? c - 55 : c - 48; };
  return static_cast<std::uint8_t>(nibble(chars[pos]) * 16 + nibble(chars[pos + 1]));
}

}  // namespace tarvo
