#pragma once
// The data a simulated instrument exposes: four tables of points, a name, a status byte and
// archives. Points are sparse: an address that is not in its table is outside the map.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "tools/devsim/Archive.h"

namespace tarvo::devsim {

enum class Table { kCoil, kDiscreteInput, kHolding, kInput };

// How a point's value arises: fixed (writable or not) or following the clock.
enum class PointKind { kConstant, kRamp, kSine };

// One coil, discrete input or register.
struct Point {
  std::uint16_t value = 0;
  PointKind kind = PointKind::kConstant;
  bool writable = false;

  // The value when uptimeSec seconds have passed since start.
  std::uint16_t Read(double uptimeSec) const;
};

// Everything the slave answers from; changed by writes.
class DeviceMap {
 public:
  void Set(Table table, std::uint16_t address, const Point& point);
  // nullptr when the address is outside the map.
  const Point* Find(Table table, std::uint16_t address) const;
  Point* Find(Table table, std::uint16_t address);
  std::size_t Size(Table table) const;
  void Clear();

  // The name as sent, in code page 1251.
  std::string name1251 = "Tarvo DevSim";
  std::uint8_t status = 0x6D;
  std::map<std::uint16_t, Archive> archives;

 private:
  std::map<std::uint16_t, Point> tables_[4];
};

}  // namespace tarvo::devsim
