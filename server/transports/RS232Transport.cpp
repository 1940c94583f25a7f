#include "server/transports/RS232Transport.h"

#include <algorithm>
#include <atomic>

#include "server/core/LogKeeper.h"

namespace tarvo {

TRS232Transport::TRS232Transport(IWorkerDirectory& directory, Clock& clock)
    : TRS232Transport(directory, ttRS232, clock) {
  Start();
}

TRS232Transport::TRS232Transport(IWorkerDirectory& directory, TTransportType type, Clock& clock)
    : TComTransport(directory, type, clock) {}

TRS232Transport::~TRS232Transport() { Shutdown(); }

std::int32_t TRS232Transport::Millis(const Variant& v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v.ToInt64(), 0, 600000));
}

void TRS232Transport::SetProps(const Variant& props) {
  LogDebug("[" + std::to_string(GetID()) + "] TRS232Transport.SetProps(" + PropsToStr(props) + ")");
  const SafeArray& a = props.Array();
  const std::string port = a.At(1).ToString();
  const std::string device = ResolvedPort(a.At(1));
  const std::int32_t speed = a.At(2).ToInt32();
  const std::int32_t flow = a.At(3).ToInt32();
  const std::int32_t answerDelay = Millis(a.At(4));
  const std::int32_t byteTimeout = Millis(a.At(5));
  const std::int32_t retries = a.At(6).ToInt32();
  std::lock_guard lock(FLock);
  if (FClosing) return;
  FPort = port;
  FDevice = device;
  FSpeed = speed;
  FFlowControl = flow == cfcHardware ? cfcHardware : cfcNone;
  FAnswerDelay = answerDelay;
  FByteTimeout = std::max(SpeedCharGap(speed), byteTimeout);
  FRetries = retries;
}

bool TRS232Transport::SamePortAndSpeed(const Variant& props) {
  try {
    const SafeArray& a = props.Array();
    const std::string device = ResolvedPort(a.At(1));  // reads the settings file: not under FLock
    std::lock_guard lock(FLock);
    return a.At(0).ToInt32() == GetTransportType() && device == FDevice &&
           a.At(2).ToInt32() == FSpeed;
  } catch (const std::exception&) {
    return false;  // an array that names no link of ours
  }
}

bool TRS232Transport::CompareProps(const Variant& props) {
  if (!SamePortAndSpeed(props)) return false;
  try {
    std::lock_guard lock(FLock);
    return props.Array().At(3).ToInt32() == FFlowControl;
  } catch (const std::exception&) {
    return false;
  }
}

void TRS232Transport::AddTask(TBaseTransportTask* task) {
  {
    std::lock_guard lock(FLock);
    auto* t = static_cast<TComTransportTask*>(task);
    t->RetriesLeft = 0;
    t->TaskType = ttData;
    t->AnswerDelay = FAnswerDelay;
    t->ByteTimeout = FByteTimeout * FByteTimeoutMultiplier;
  }
  TBaseTransport::AddTask(task);
}

void TRS232Transport::SetTaskProps(std::uint32_t props) {
  SerialFormat f;
  f.dataBits = 5 + static_cast<int>(lineprops::DataBits(props));
  switch (lineprops::Parity(props)) {
    case 1: f.parity = SerialParity::Odd; break;
    case 2: f.parity = SerialParity::Even; break;
    case 3: f.parity = SerialParity::Mark; break;
    case 4: f.parity = SerialParity::Space; break;
    default: f.parity = SerialParity::None; break;
  }
  switch (lineprops::StopBits(props)) {
    case 1: f.stopBits = SerialStopBits::OneAndHalf; break;
    case 2: f.stopBits = SerialStopBits::Two; break;
    default: f.stopBits = SerialStopBits::One; break;
  }
  if (!FComPort.SetFormat(f)) {
    // Said once per process: the frame still goes out, in the nearest format the port takes.
    static std::atomic<bool> saidStopBits{false}, saidFormat{false};
    if (f.stopBits == SerialStopBits::OneAndHalf) {
      if (!saidStopBits.exchange(true))
        LogAction("Полтора стоповых бита недоступны в этой системе: используются два");
    } else if (!saidFormat.exchange(true)) {
      LogDebug("[" + std::to_string(GetID()) + "] TRS232Transport.SetTaskProps: the port refused "
               "the frame format " + std::to_string(props));
    }
  }
}

bool TRS232Transport::RunTask(TBaseTransportTask& base) {
  auto& task = static_cast<TComTransportTask&>(base);
  SetTaskProps(task.Props & 0xFF);
  DelayApply(2);
  const bool sent = Send(task);
  if (!sent) return false;
  if (!task.WaitForAnswer) return true;
  return Recieve(task, task.AnswerDelay, task.ByteTimeout);
}

bool TRS232Transport::Send(TComTransportTask& task) {
  try {
    FComPort.PurgeOutput();
    FBuffer.Clear();
    FTxEmpty.Reset();
    FRxChar.Reset();
    const int n = std::clamp(task.Bufsize, 0, kTaskBufSize);
    for (int k = 0; k < n; ++k)
      if (!FComPort.WriteByte(task.Buf[k])) return false;
    return true;
  } catch (const TAbortError&) {
    throw;
  } catch (const std::exception&) {
    return false;
  }
}

bool TRS232Transport::Recieve(TComTransportTask&, std::int32_t answerDelay,
                              std::int32_t byteTimeout) {
  try {
    if (CustomWait(&FRxChar, static_cast<std::uint32_t>(std::max(answerDelay, 0)), true))
      return false;  // no answer
    FTempBufSize = 0;
    for (;;) {
      while (FBuffer.Count() > 0) {
        const int n = FBuffer.Take(FTempBuf.data() + FTempBufSize,
                                   kTaskBufSize - static_cast<int>(FTempBufSize));
        FTempBufSize += static_cast<std::uint32_t>(n);
        if (FTempBufSize >= kTaskBufSize) return true;  // the rest goes with the next Send
      }
      if (CustomWait(&FRxChar, static_cast<std::uint32_t>(std::max(byteTimeout, 0)), true))
        return true;  // the line went quiet: the answer is complete
    }
  } catch (const TAbortError&) {
    throw;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace tarvo
