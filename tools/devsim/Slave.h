#pragma once
// The answering logic of the simulated instrument: one request in, at most one answer out.
// Pure: the clock comes in with each request, so answers can be checked from tables.

#include <cstdint>
#include <optional>
#include <vector>

#include "tools/devsim/DeviceMap.h"

namespace tarvo::devsim {

// The clock readings an answer may depend on.
struct SlaveClock {
  double uptimeSec = 0;     // drives ramp and sine points
  std::int64_t unixSec = 0; // places the archive records
};

// Diagnostic counters, as function 8 reports them.
struct SlaveCounters {
  std::uint16_t busMessages = 0;
  std::uint16_t checksumErrors = 0;
  std::uint16_t exceptions = 0;
  std::uint16_t slaveMessages = 0;
};

// A ModBus slave over a device map.
class Slave {
 public:
  Slave(DeviceMap map, std::uint8_t address) : map_(std::move(map)), address_(address) {}

  // Answers every request addressed to this slave with this exception code; 0 turns it off.
  void ForceException(std::uint8_t code) { forcedException_ = code; }

  // The answer (address, function, data; no checksum) to a request with a good checksum, or
  // nullopt for none: another address, a broadcast, or a request too short to have a function.
  std::optional<std::vector<std::uint8_t>> Handle(const std::vector<std::uint8_t>& pdu,
                                                  const SlaveClock& clock);
  // A request whose checksum failed; counted, never answered.
  void CountChecksumError();

  const DeviceMap& Map() const { return map_; }
  const SlaveCounters& Counters() const { return counters_; }

 private:
  using Bytes = std::vector<std::uint8_t>;
  // Each returns the exception code, 0 when out holds the answer's data.
  std::uint8_t ReadBits(Table table, const Bytes& rq, Bytes& out) const;
  std::uint8_t ReadRegisters(Table table, const Bytes& rq, const SlaveClock& clock,
                             Bytes& out) const;
  std::uint8_t WriteCoil(const Bytes& rq, Bytes& out);
  std::uint8_t WriteRegister(const Bytes& rq, Bytes& out);
  std::uint8_t WriteCoils(const Bytes& rq, Bytes& out);
  std::uint8_t WriteRegisters(const Bytes& rq, Bytes& out);
  std::uint8_t Diagnostics(const Bytes& rq, Bytes& out);
  std::uint8_t ReadArchive(const Bytes& rq, const SlaveClock& clock, Bytes& out) const;
  std::uint8_t Dispatch(const Bytes& rq, const SlaveClock& clock, Bytes& out);
  // Whether every address of the range is in the table (and writable when asked).
  bool Covers(Table table, int first, int count, bool forWrite) const;

  DeviceMap map_;
  std::uint8_t address_;
  std::uint8_t forcedException_ = 0;
  SlaveCounters counters_;
};

}  // namespace tarvo::devsim
