#pragma once
// Checksums and hexadecimal characters of ModBus framing.

#include <array>
#include <cstdint>

namespace tarvo {

// CRC-16 of RTU framing over count bytes. The two bytes come back in sending order: the first
// byte to send (the CRC's low-order byte) in the high half. A count below 1 gives 0xFFFF.
std::uint16_t CRC(const std::uint8_t* bytes, int count);

// LRC of ASCII framing: the two's complement of the sum of the bytes encoded by the character
// pairs that start at start, start + 2, ... and lie before start + count - 1.
std::uint8_t LRC(const std::uint8_t* chars, int count, int start);

// Two hexadecimal characters, high nibble first, upper-case letters.
std::array<std::uint8_t, 2> FromByte(std::uint8_t b);

// The byte encoded by the characters at pos and pos + 1. Characters above '9' count as their code
// minus 55, others as their code minus 48, so lower-case letters decode to wrong values.
std::uint8_t ToByte(const std::uint8_t* chars, int pos);

}  // namespace tarvo
