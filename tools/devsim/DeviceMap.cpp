#include "tools/devsim/DeviceMap.h"

#include <cmath>
#include <numbers>

namespace tarvo::devsim {

std::uint16_t Point::Read(double uptimeSec) const {
  switch (kind) {
    case PointKind::kConstant: return value;
    case PointKind::kRamp:
      return static_cast<std::uint16_t>(static_cast<std::uint64_t>(uptimeSec) + value);
    case PointKind::kSine:
      // One period a minute around 1000, so a poller sees it move within a few reads.
      return static_cast<std::uint16_t>(
          std::lround(1000.0 + 1000.0 * std::sin(2.0 * std::numbers::pi * uptimeSec / 60.0)));
  }
  return value;
}

void DeviceMap::Set(Table table, std::uint16_t address, const Point& point) {
  tables_[static_cast<int>(table)][address] = point;
}

const Point* DeviceMap::Find(Table table, std::uint16_t address) const {
  const auto& t = tables_[static_cast<int>(table)];
  auto it = t.find(address);
  return it == t.end() ? nullptr : &it->second;
}

Point* DeviceMap::Find(Table table, std::uint16_t address) {
  auto& t = tables_[static_cast<int>(table)];
  auto it = t.find(address);
  return it == t.end() ? nullptr : &it->second;
}

std::size_t DeviceMap::Size(Table table) const { return tables_[static_cast<int>(table)].size(); }

void DeviceMap::Clear() {
  for (auto& t : tables_) t.clear();
  archives.clear();
}

}  // namespace tarvo::devsim
