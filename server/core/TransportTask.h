#pragma once
// One frame to send on a link and the answer that came back in the same buffer.

#include <array>
#include <cstdint>

#include "server/core/Definitions.h"

namespace tarvo {

inline constexpr int kTaskBufSize = 600;

// Line settings of one frame (Props): data bits code in bits 0-1 (0 five .. 3 eight), parity in
// bits 2-4 (0 none, 1 odd, 2 even, 3 mark, 4 space), stop bits in bits 5-6 (0 one, 1 one and a
// half, 2 two).
namespace lineprops {
inline constexpr std::uint32_t kDataBitsMask = 0x03;
inline constexpr std::uint32_t kParityMask = 0x1C;
inline constexpr std::uint32_t kStopBitsMask = 0x60;
inline constexpr std::uint32_t Make(std::uint32_t dataBits, std::uint32_t parity,
                                    std::uint32_t stopBits) {
  return (dataBits & 3) | ((parity & 7) << 2) | ((stopBits & 3) << 5);
}
inline constexpr std::uint32_t DataBits(std::uint32_t p) { return p & kDataBitsMask; }
inline constexpr std::uint32_t Parity(std::uint32_t p) { return (p & kParityMask) >> 2; }
inline constexpr std::uint32_t StopBits(std::uint32_t p) { return (p & kStopBitsMask) >> 5; }
}  // namespace lineprops

// Created by a transport, filled by a master, queued on the transport, handed back to the master
// named in MasterID. Transports may derive to keep their own timing fields.
struct TBaseTransportTask {
  virtual ~TBaseTransportTask() = default;

  std::int32_t MasterID = kNoID;
  std::int32_t QID = 0;
  std::int32_t Bufsize = 0;  // valid bytes of Buf: the frame, then the answer (0: none)
  std::array<std::uint8_t, kTaskBufSize> Buf{};
  std::uint32_t Props = 0;
  bool WaitForAnswer = true;  // false for broadcasts to address 0
  std::int32_t RetriesLeft = 0;
  bool Canceled = false;  // not sent, still handed back to its master
  TTaskType TaskType = ttData;  // service tasks are sent and dropped inside the transport
  std::uint32_t ServiceData = 0;
  std::int32_t Priority = 0;
};

}  // namespace tarvo
