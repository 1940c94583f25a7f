#pragma once
// Cuts the byte stream of a serial line into request frames. RTU frames have no delimiters, so
// their length follows from the function code; what cannot be sized waits for a quiet gap.

#include <cstdint>
#include <vector>

#include "server/core/Definitions.h"

namespace tarvo::devsim {

// One request as received: address, function and data, checksum removed.
struct RequestFrame {
  std::vector<std::uint8_t> pdu;
  bool checksumOk = false;
};

// Assembles request frames in RTU or ASCII framing from chunks of received bytes.
class RequestFramer {
 public:
  explicit RequestFramer(TModbusMode mode) : mode_(mode) {}

  // Adds received bytes; every frame they complete is appended to out.
  void Feed(const std::uint8_t* bytes, int n, std::vector<RequestFrame>& out);
  // The line went quiet: a pending RTU frame of unknown length is a frame if its CRC holds;
  // anything else pending is dropped.
  void QuietGap(std::vector<RequestFrame>& out);
  bool Pending() const { return !buf_.empty(); }

  // RTU request length with CRC for the bytes so far: 0 while it cannot be told yet, -1 for a
  // function whose length only a quiet gap reveals.
  static int RtuLength(const std::vector<std::uint8_t>& bytes);

 private:
  void FeedRtu(std::uint8_t b, std::vector<RequestFrame>& out);
  void FeedAscii(std::uint8_t b, std::vector<RequestFrame>& out);
  void EmitRtu(std::size_t n, std::vector<RequestFrame>& out);

  TModbusMode mode_;
  std::vector<std::uint8_t> buf_;
};

}  // namespace tarvo::devsim
