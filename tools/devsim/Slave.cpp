#include "tools/devsim/Slave.h"

#include <algorithm>
#include <ctime>

namespace tarvo::devsim {

namespace {

constexpr std::uint8_t kIllegalFunction = 1;
constexpr std::uint8_t kIllegalAddress = 2;
constexpr std::uint8_t kIllegalValue = 3;

int Word(const std::vector<std::uint8_t>& b, std::size_t pos) { return b[pos] << 8 | b[pos + 1]; }

void PutWord(int v, std::vector<std::uint8_t>& out) {
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

bool IsWrite(std::uint8_t function) {
  return function == 5 || function == 6 || function == 15 || function == 16;
}

}  // namespace

void Slave::CountChecksumError() {
  ++counters_.busMessages;
  ++counters_.checksumErrors;
}

bool Slave::Covers(Table table, int first, int count, bool forWrite) const {
  if (first + count > 65536) return false;
  for (int a = first; a < first + count; ++a) {
    const Point* p = map_.Find(table, static_cast<std::uint16_t>(a));
    if (!p || (forWrite && !p->writable)) return false;
  }
  return true;
}

std::uint8_t Slave::ReadBits(Table table, const Bytes& rq, Bytes& out) const {
  if (rq.size() != 6) return kIllegalValue;
  int first = Word(rq, 2), count = Word(rq, 4);
  if (count < 1 || count > 2000) return kIllegalValue;
  if (!Covers(table, first, count, false)) return kIllegalAddress;
  out.push_back(static_cast<std::uint8_t>((count + 7) / 8));
  for (int k = 0; k < count; ++k) {
    if (k % 8 == 0) out.push_back(0);
    if (map_.Find(table, static_cast<std::uint16_t>(first + k))->value)
      out.back() = static_cast<std::uint8_t>(out.back() | 1 << (k % 8));
  }
  return 0;
}

std::uint8_t Slave::ReadRegisters(Table table, const Bytes& rq, const SlaveClock& clock,
                                  Bytes& out) const {
  if (rq.size() != 6) return kIllegalValue;
  int first = Word(rq, 2), count = Word(rq, 4);
  if (count < 1 || count > 125) return kIllegalValue;
  if (!Covers(table, first, count, false)) return kIllegalAddress;
  out.push_back(static_cast<std::uint8_t>(count * 2));
  for (int k = 0; k < count; ++k)
    PutWord(map_.Find(table, static_cast<std::uint16_t>(first + k))->Read(clock.uptimeSec), out);
  return 0;
}

std::uint8_t Slave::WriteCoil(const Bytes& rq, Bytes& out) {
  if (rq.size() != 6) return kIllegalValue;
  int value = Word(rq, 4);
  if (value != 0xFF00 && value != 0) return kIllegalValue;
  if (!Covers(Table::kCoil, Word(rq, 2), 1, true)) return kIllegalAddress;
  map_.Find(Table::kCoil, static_cast<std::uint16_t>(Word(rq, 2)))->value = value ? 1 : 0;
  out.assign(rq.begin() + 2, rq.end());
  return 0;
}

std::uint8_t Slave::WriteRegister(const Bytes& rq, Bytes& out) {
  if (rq.size() != 6) return kIllegalValue;
  if (!Covers(Table::kHolding, Word(rq, 2), 1, true)) return kIllegalAddress;
  map_.Find(Table::kHolding, static_cast<std::uint16_t>(Word(rq, 2)))->value =
      static_cast<std::uint16_t>(Word(rq, 4));
  out.assign(rq.begin() + 2, rq.end());
  return 0;
}

std::uint8_t Slave::WriteCoils(const Bytes& rq, Bytes& out) {
  if (rq.size() < 7) return kIllegalValue;
  int first = Word(rq, 2), count = Word(rq, 4);
  if (count < 1 || count > 1968 || rq[6] != (count + 7) / 8 || rq.size() != 7u + rq[6])
    return kIllegalValue;
  if (!Covers(Table::kCoil, first, count, true)) return kIllegalAddress;
  for (int k = 0; k < count; ++k)
    map_.Find(Table::kCoil, static_cast<std::uint16_t>(first + k))->value =
        (rq[7 + k / 8] >> (k % 8)) & 1;
  out.assign(rq.begin() + 2, rq.begin() + 6);
  return 0;
}

std::uint8_t Slave::WriteRegisters(const Bytes& rq, Bytes& out) {
  if (rq.size() < 7) return kIllegalValue;
  int first = Word(rq, 2), count = Word(rq, 4);
  if (count < 1 || count > 123 || rq[6] != count * 2 || rq.size() != 7u + rq[6])
    return kIllegalValue;
  if (!Covers(Table::kHolding, first, count, true)) return kIllegalAddress;
  for (int k = 0; k < count; ++k)
    map_.Find(Table::kHolding, static_cast<std::uint16_t>(first + k))->value =
        static_cast<std::uint16_t>(Word(rq, 7 + 2 * static_cast<std::size_t>(k)));
  out.assign(rq.begin() + 2, rq.begin() + 6);
  return 0;
}

std::uint8_t Slave::Diagnostics(const Bytes& rq, Bytes& out) {
  if (rq.size() < 4) return kIllegalValue;
  int sub = Word(rq, 2);
  std::uint16_t counter = 0;
  switch (sub) {
    case 0: out.assign(rq.begin() + 2, rq.end()); return 0;
    case 1:
      if (rq.size() != 6) return kIllegalValue;
      out.assign(rq.begin() + 2, rq.end());
      counters_ = {};
      return 0;
    case 11: counter = counters_.busMessages; break;
    case 12: counter = counters_.checksumErrors; break;
    case 13: counter = counters_.exceptions; break;
    case 14: counter = counters_.slaveMessages; break;
    default: return kIllegalFunction;
  }
  if (rq.size() != 6) return kIllegalValue;
  PutWord(sub, out);
  PutWord(counter, out);
  return 0;
}

std::uint8_t Slave::ReadArchive(const Bytes& rq, const SlaveClock& clock, Bytes& out) const {
  if (rq.size() < 7) return kIllegalValue;
  bool byTime = rq[6] == 1;
  if (rq.size() != (byTime ? 13u : 9u) || rq[6] > 1) return kIllegalValue;
  auto it = map_.archives.find(static_cast<std::uint16_t>(Word(rq, 2)));
  if (it == map_.archives.end()) return kIllegalAddress;
  const Archive& arch = it->second;
  int count = Word(rq, 4);
  if (count < 1 || count * arch.RecordSize() > 255) return kIllegalValue;
  int first = 0;
  if (byTime) {
    std::tm tm{};
    tm.tm_sec = rq[7];
    tm.tm_min = rq[8];
    tm.tm_hour = rq[9];
    tm.tm_mday = rq[10];
    tm.tm_mon = rq[11] - 1;
    tm.tm_year = 100 + rq[12];
    if (tm.tm_sec > 59 || tm.tm_min > 59 || tm.tm_hour > 23 || tm.tm_mday < 1 ||
        tm.tm_mday > 31 || tm.tm_mon < 0 || tm.tm_mon > 11 || rq[12] > 99)
      return kIllegalValue;
    auto found = arch.FirstAtOrAfter(timegm(&tm), clock.unixSec);
    if (!found) return kIllegalAddress;
    first = *found;
  } else {
    first = Word(rq, 7);
    if (first >= arch.Records()) return kIllegalAddress;
  }
  int n = std::min(count, arch.Records() - first);
  out.push_back(static_cast<std::uint8_t>(n * arch.RecordSize()));
  for (int k = 0; k < n; ++k) arch.AppendRecord(first + k, clock.unixSec, out);
  return 0;
}

std::uint8_t Slave::Dispatch(const Bytes& rq, const SlaveClock& clock, Bytes& out) {
  switch (rq[1]) {
    case 1: return ReadBits(Table::kCoil, rq, out);
    case 2: return ReadBits(Table::kDiscreteInput, rq, out);
    case 3: return ReadRegisters(Table::kHolding, rq, clock, out);
    case 4: return ReadRegisters(Table::kInput, rq, clock, out);
    case 5: return WriteCoil(rq, out);
    case 6: return WriteRegister(rq, out);
    case 7:
      if (rq.size() != 2) return kIllegalValue;
      out.push_back(map_.status);
      return 0;
    case 8: return Diagnostics(rq, out);
    case 15: return WriteCoils(rq, out);
    case 16: return WriteRegisters(rq, out);
    case 17:
      if (rq.size() != 2) return kIllegalValue;
      out.push_back(static_cast<std::uint8_t>(map_.name1251.size()));
      out.insert(out.end(), map_.name1251.begin(), map_.name1251.end());
      return 0;
    case 65: return ReadArchive(rq, clock, out);
    default: return kIllegalFunction;
  }
}

std::optional<std::vector<std::uint8_t>> Slave::Handle(const std::vector<std::uint8_t>& pdu,
                                                       const SlaveClock& clock) {
  ++counters_.busMessages;
  if (pdu.size() < 2) return std::nullopt;
  bool broadcast = pdu[0] == 0;
  if (!broadcast && pdu[0] != address_) return std::nullopt;
  ++counters_.slaveMessages;
  if (broadcast) {
    Bytes ignored;
    if (IsWrite(pdu[1]) && !forcedException_) Dispatch(pdu, clock, ignored);
    return std::nullopt;
  }
  Bytes data;
  std::uint8_t code = forcedException_ ? forcedException_ : Dispatch(pdu, clock, data);
  Bytes answer{address_, pdu[1]};
  if (code) {
    ++counters_.exceptions;
    answer[1] = static_cast<std::uint8_t>(pdu[1] | 0x80);
    answer.push_back(code);
  } else {
    answer.insert(answer.end(), data.begin(), data.end());
  }
  return answer;
}

}  // namespace tarvo::devsim
