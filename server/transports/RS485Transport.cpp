#include "server/transports/RS485Transport.h"

#include <algorithm>

#include "server/core/LogKeeper.h"

namespace tarvo {

TRS485Transport::TRS485Transport(IWorkerDirectory& directory, Clock& clock)
    : TRS232Transport(directory, ttRS485, clock) {
  FEthernetRs = FCreationSettings.EthernetRs;
  Start();
}

TRS485Transport::~TRS485Transport() { Shutdown(); }

void TRS485Transport::SetProps(const Variant& props) {
  LogDebug("[" + std::to_string(GetID()) + "] TRS485Transport.SetProps(" + PropsToStr(props) + ")");
  const SafeArray& a = props.Array();
  const std::string port = a.At(1).ToString();
  const std::string device = ResolvedPort(a.At(1));
  const std::int32_t speed = a.At(2).ToInt32();
  const std::int32_t answerDelay = Millis(a.At(3));
  const std::int32_t byteTimeout = Millis(a.At(4));
  const std::int32_t retries = a.At(5).ToInt32();
  std::lock_guard lock(FLock);
  if (FClosing) return;
  FPort = port;
  FDevice = device;
  FSpeed = speed;
  FFlowControl = cfcNone;
  FAnswerDelay = answerDelay;
  FByteTimeout = std::max(SpeedCharGap(speed), byteTimeout);
  FRetries = retries;
  FLastByteTime = std::max(SpeedCharGap(speed), 0);
}

bool TRS485Transport::Connect(Event* abortEvent) {
  if (!TComTransport::Connect(abortEvent)) return false;
  std::lock_guard lock(FLock);
  FLastByteTime = std::max(FLastByteTime, FDelay);
  return true;
}

bool TRS485Transport::CompareProps(const Variant& props) { return SamePortAndSpeed(props); }

void TRS485Transport::AddTask(TBaseTransportTask* task) {
  {
    std::lock_guard lock(FLock);
    static_cast<TComTransportTask*>(task)->LastByteTime = FLastByteTime;
  }
  TRS232Transport::AddTask(task);
}

bool TRS485Transport::Send(TComTransportTask& task) {
  FComPort.SetRTS(true);
  bool sent = false;
  try {
    sent = TRS232Transport::Send(task);
    std::int32_t hold;
    {
      std::lock_guard lock(FLock);
      hold = FEthernetRs ? task.Bufsize : FLastByteTime;
    }
    DelayApply(hold);  // the last bytes are still on the wire: keep the driver enabled
  } catch (...) {
    FComPort.SetRTS(false);
    throw;
  }
  FComPort.SetRTS(false);
  return sent;
}

}  // namespace tarvo
