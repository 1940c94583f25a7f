#pragma once
// An RS-485 line: the RS-232 exchange with RTS raised as transmit enable around every frame.

#include "server/transports/RS232Transport.h"

namespace tarvo {

class TRS485Transport : public TRS232Transport {
 public:
  explicit TRS485Transport(IWorkerDirectory& directory, Clock& clock = SystemClock());
  ~TRS485Transport() override;

  void AddTask(TBaseTransportTask* task) override;
  // [1] port, [2] speed index, [3] answer delay, [4] least inter-byte timeout, [5] attempts; no
  // flow control (a seventh element, a last-byte time, is not read).
  void SetProps(const Variant& props) override;
  bool Connect(Event* abortEvent) override;
  // The same type, port and speed: links that differ only in their delays are shared.
  bool CompareProps(const Variant& props) override;
  bool Send(TComTransportTask& task) override;

  std::int32_t LastByteTime() { std::lock_guard l(FLock); return FLastByteTime; }

 private:
  std::int32_t FLastByteTime = 3;
  bool FEthernetRs = false;
};

}  // namespace tarvo
