#include "server/transports/ByteBuffer.h"

#include <gtest/gtest.h>

#include "server/transports/TransportSpeed.h"

namespace tarvo {
namespace {

TEST(ByteBuffer, RingKeepsOrderDropsWhenFullAndClearKeepsItsPlace) {
  TByteBuffer b(4);
  for (std::uint8_t v : {1, 2, 3}) b.SetItem(v);
  EXPECT_EQ(b.Item(), 1);
  EXPECT_EQ(b.Item(), 2);
  for (std::uint8_t v : {4, 5, 6, 7}) b.SetItem(v);  // wraps; 7 is one too many
  EXPECT_EQ(b.Count(), 4);
  std::uint8_t out[8];
  ASSERT_EQ(b.Take(out, 8), 4);
  EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), (std::vector<std::uint8_t>{3, 4, 5, 6}));
  b.SetItem(9);
  b.Clear();
  EXPECT_EQ(b.Count(), 0);
  b.SetItem(10);
  EXPECT_EQ(b.Item(), 10);
  EXPECT_EQ(b.Count(), 0);
}

TEST(TransportSpeed, TableAndOther) {
  const int bps[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
  const int gap[] = {33, 17, 9, 5, 3, 2, 1, 1};
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(SpeedBitsPerSecond(k), bps[k]);
    EXPECT_EQ(SpeedCharGap(k), gap[k]);
  }
  EXPECT_EQ(SpeedBitsPerSecond(tsOther), -1);
  EXPECT_EQ(SpeedCharGap(tsOther), -1);
  EXPECT_EQ(SpeedBitsPerSecond(-1), -1);
}

}  // namespace
}  // namespace tarvo
