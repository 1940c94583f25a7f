#include "server/transports/TransportSpeed.h"

#include <chrono>

namespace tarvo {

namespace {
struct Speed {
  int bps, gap;
};
constexpr Speed kSpeeds[] = {{1200, 33}, {2400, 17}, {4800, 9},  {9600, 5},
                             {19200, 3}, {38400, 2}, {57600, 1}, {115200, 1}};
}  // namespace

int SpeedBitsPerSecond(int index) {
  return index >= 0 && index < 8 ? kSpeeds[index].bps : -1;
}

int SpeedCharGap(int index) { return index >= 0 && index < 8 ? kSpeeds[index].gap : -1; }

void DelayApply(int ms) {
  if (ms <= 0) return;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
  }
}

}  // namespace tarvo
