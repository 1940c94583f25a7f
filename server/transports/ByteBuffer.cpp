#include "server/transports/ByteBuffer.h"

namespace tarvo {

void TByteBuffer::Clear() {
  std::lock_guard lock(FCS);
  FCount = 0;
}

int TByteBuffer::Count() {
  std::lock_guard lock(FCS);
  return FCount;
}

void TByteBuffer::SetItem(std::uint8_t b) {
  std::lock_guard lock(FCS);
  const int size = static_cast<int>(FItems.size());
  if (FCount >= size) return;
  FItems[(FFirst + FCount) % size] = b;
  ++FCount;
}

std::uint8_t TByteBuffer::Item() {
  std::lock_guard lock(FCS);
  const int size = static_cast<int>(FItems.size());
  const std::uint8_t b = FItems[FFirst];
  FFirst = (FFirst + 1) % size;
  if (FCount > 0) --FCount;
  return b;
}

int TByteBuffer::Take(std::uint8_t* out, int max) {
  std::lock_guard lock(FCS);
  const int size = static_cast<int>(FItems.size());
  int n = 0;
  while (n < max && FCount > 0) {
    out[n++] = FItems[FFirst];
    FFirst = (FFirst + 1) % size;
    --FCount;
  }
  return n;
}

}  // namespace tarvo
