#include "tools/devsim/RequestFramer.h"

#include "server/modbus/Checksum.h"

namespace tarvo::devsim {

namespace {

// Longer than any request that fits the master's frame buffer.
constexpr std::size_t kMaxFrame = 620;

int HexDigit(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

int RequestFramer::RtuLength(const std::vector<std::uint8_t>& b) {
  if (b.size() < 2) return 0;
  switch (b[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6: case 8: return 8;
    case 7: case 17: return 4;
    case 15: case 16: return b.size() < 7 ? 0 : 9 + b[6];
    case 65: return b.size() < 7 ? 0 : (b[6] == 1 ? 15 : 11);
    default: return -1;
  }
}

void RequestFramer::Feed(const std::uint8_t* bytes, int n, std::vector<RequestFrame>& out) {
  for (int k = 0; k < n; ++k) {
    if (mode_ == mmRTU) FeedRtu(bytes[k], out);
    else FeedAscii(bytes[k], out);
  }
}

void RequestFramer::EmitRtu(std::size_t n, std::vector<RequestFrame>& out) {
  RequestFrame f;
  std::uint16_t crc = CRC(buf_.data(), static_cast<int>(n - 2));
  f.checksumOk = buf_[n - 2] == (crc >> 8) && buf_[n - 1] == (crc & 0xFF);
  f.pdu.assign(buf_.begin(), buf_.begin() + static_cast<long>(n - 2));
  out.push_back(std::move(f));
  buf_.erase(buf_.begin(), buf_.begin() + static_cast<long>(n));
}

void RequestFramer::FeedRtu(std::uint8_t b, std::vector<RequestFrame>& out) {
  buf_.push_back(b);
  int len = RtuLength(buf_);
  if (len > 0 && buf_.size() == static_cast<std::size_t>(len)) EmitRtu(buf_.size(), out);
  else if (buf_.size() >= kMaxFrame) buf_.clear();
}

void RequestFramer::FeedAscii(std::uint8_t b, std::vector<RequestFrame>& out) {
  if (b == ':') {  // a colon always starts a new frame, whatever came before
    buf_.assign(1, b);
    return;
  }
  if (buf_.empty()) return;
  buf_.push_back(b);
  if (buf_.size() >= kMaxFrame) {
    buf_.clear();
    return;
  }
  std::size_t n = buf_.size();
  if (n < 3 || buf_[n - 2] != '\r' || b != '\n') return;
  RequestFrame f;
  std::size_t chars = n - 3;  // between ':' and CR LF
  bool ok = chars >= 6 && chars % 2 == 0;
  std::uint8_t sum = 0;
  for (std::size_t k = 1; ok && k + 1 < n - 2; k += 2) {
    int hi = HexDigit(buf_[k]), lo = HexDigit(buf_[k + 1]);
    if (hi < 0 || lo < 0) ok = false;
    auto v = static_cast<std::uint8_t>(hi * 16 + lo);
    sum = static_cast<std::uint8_t>(sum + v);
    f.pdu.push_back(v);
  }
  if (ok) f.pdu.pop_back();  // the LRC
  f.checksumOk = ok && sum == 0;
  if (!ok) f.pdu.clear();
  out.push_back(std::move(f));
  buf_.clear();
}

void RequestFramer::QuietGap(std::vector<RequestFrame>& out) {
  if (mode_ == mmRTU && RtuLength(buf_) == -1 && buf_.size() >= 4) {
    std::uint16_t crc = CRC(buf_.data(), static_cast<int>(buf_.size() - 2));
    if (buf_[buf_.size() - 2] == (crc >> 8) && buf_.back() == (crc & 0xFF)) {
      EmitRtu(buf_.size(), out);
      return;
    }
  }
  buf_.clear();
}

}  // namespace tarvo::devsim
