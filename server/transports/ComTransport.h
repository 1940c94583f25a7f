#pragma once
// The serial-port part of the serial links: the port, its settings, the receive queue filled by
// the port's event thread, and opening and closing the port.

#include <cstdint>
#include <string>

#include "platform/serial/SerialPort.h"
#include "platform/sync/Event.h"
#include "server/core/BaseTransport.h"
#include "server/core/ServerSettings.h"
#include "server/transports/ByteBuffer.h"
#include "server/transports/TransportSpeed.h"

namespace tarvo {

// A transport task with the timing it was queued with.
struct TComTransportTask : TBaseTransportTask {
  std::int32_t AnswerDelay = 0;
  std::int32_t ByteTimeout = 0;
  std::int32_t LastByteTime = 0;
};

class TComTransport : public TBaseTransport {
 public:
  TComTransport(IWorkerDirectory& directory, TTransportType type, Clock& clock = SystemClock());
  ~TComTransport() override;

  std::string MainConnectionOptions() override;
  bool Connect(Event* abortEvent) override;
  void Disconnect() override;
  TBaseTransportTask* CreateTask() override;

  // Run on the port's event thread.
  virtual void RxChar();
  virtual void TxEmpty();

  // The settings as read (for tests and logs).
  std::int32_t AnswerDelay() { std::lock_guard l(FLock); return FAnswerDelay; }
  std::int32_t ByteTimeout() { std::lock_guard l(FLock); return FByteTimeout; }
  std::uint8_t ByteTimeoutMultiplier() const { return FByteTimeoutMultiplier; }
  const std::string& Port() const { return FPort; }

 protected:
  // Reads the port name: COMn or a path, resolved to the device's real path.
  std::string ResolvedPort(const Variant& name);

  // The settings file as it was when this transport was created (read once per creation).
  const TServerSettings FCreationSettings;
  SerialPort FComPort;
  std::int32_t FAnswerDelay = 1000;
  std::int32_t FRetries = 1;
  std::int32_t FByteTimeout = 3;
  std::int32_t FSpeed = ts19200;
  std::string FPort = "COM1";
  std::string FDevice;  // FPort resolved: what identifies the link
  std::int32_t FFlowControl = cfcNone;
  std::uint8_t FByteTimeoutMultiplier = 5;
  TByteBuffer FBuffer;
  Event FRxChar{false};
  Event FTxEmpty{false};
  std::int32_t FDelay = 3;
};

}  // namespace tarvo
