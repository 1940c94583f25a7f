#pragma once
// An RS-232 line: one frame written per task, the answer collected until the line is quiet.

#include "server/transports/ComTransport.h"

namespace tarvo {

class TRS232Transport : public TComTransport {
 public:
  explicit TRS232Transport(IWorkerDirectory& directory, Clock& clock = SystemClock());
  ~TRS232Transport() override;

  bool RunTask(TBaseTransportTask& task) override;
  void AddTask(TBaseTransportTask* task) override;
  // [1] port, [2] speed index, [3] flow control, [4] answer delay, [5] least inter-byte timeout,
  // [6] attempts. Raises VariantError when an element cannot be read.
  void SetProps(const Variant& props) override;
  // The same type, port, speed and flow control.
  bool CompareProps(const Variant& props) override;

  virtual bool Send(TComTransportTask& task);
  virtual bool Recieve(TComTransportTask& task, std::int32_t answerDelay, std::int32_t byteTimeout);

 protected:
  TRS232Transport(IWorkerDirectory& directory, TTransportType type, Clock& clock);
  void SetTaskProps(std::uint32_t props);
  // The time-outs a client sends, clamped to what a line can sensibly wait.
  static std::int32_t Millis(const Variant& v);
  bool SamePortAndSpeed(const Variant& props);
};

}  // namespace tarvo
