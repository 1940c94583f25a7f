#pragma once
// The receive queue of a serial port: a bounded byte ring with its own lock, filled by the port's
// event thread and emptied by the transport's thread. Bytes beyond the capacity are dropped.

#include <cstdint>
#include <mutex>
#include <vector>

namespace tarvo {

class TByteBuffer {
 public:
  explicit TByteBuffer(int capacity = 600) : FItems(static_cast<std::size_t>(capacity)) {}

  void Clear();
  int Count();
  // Appends b; a full queue drops it.
  void SetItem(std::uint8_t b);
  // Takes the oldest byte; callers check Count first (an empty queue gives a stale byte).
  std::uint8_t Item();
  // Takes up to max bytes at once; returns how many.
  int Take(std::uint8_t* out, int max);

 private:
  std::vector<std::uint8_t> FItems;
  std::mutex FCS;
  int FCount = 0;
  int FFirst = 0;
};

}  // namespace tarvo
