#include "server/transports/ComTransport.h"

#include "common/Paths.h"
#include "platform/serial/PortName.h"
#include "server/core/LogKeeper.h"

namespace tarvo {

TComTransport::TComTransport(IWorkerDirectory& directory, TTransportType type, Clock& clock)
    : TBaseTransport(directory, type, clock),
      FCreationSettings(ReadServerSettings(GetIniFileName(false))) {
  FByteTimeoutMultiplier = static_cast<std::uint8_t>(FCreationSettings.ByteTimeoutMultiplier);
  FComPort.OnRxChar = [this] { RxChar(); };
  FComPort.OnTxEmpty = [this] { TxEmpty(); };
}

TComTransport::~TComTransport() {
  Shutdown();
  try {
    FComPort.Close();
  } catch (const std::exception&) {
    LogDebug("[" + std::to_string(GetID()) + "] Exception TComTransport.Destroy on FComPort.Free");
  }
}

std::string TComTransport::MainConnectionOptions() {
  std::lock_guard lock(FLock);
  return "Port: " + FPort + "; Speed: " + std::to_string(SpeedBitsPerSecond(FSpeed));
}

std::string TComTransport::ResolvedPort(const Variant& name) {
  return ResolvePortName(name.ToString(), GetIniFileName(false));
}

bool TComTransport::Connect(Event*) {
  LogAction("[" + std::to_string(GetID()) + "] Подключение транспорта " +
            std::string(TransportTypeName(GetTransportType())) + " (" + MainConnectionOptions() +
            ")");
  std::string device;
  int baud;
  bool hardware;
  {
    std::lock_guard lock(FLock);
    baud = SpeedBitsPerSecond(FSpeed);
    if (baud < 0) {
      AddErrLogTask("скорость с индексом " + std::to_string(FSpeed) +
                    " не задаёт частоту порта; подключение невозможно");
      return false;
    }
    FDelay = SpeedCharGap(FSpeed);
    hardware = FFlowControl == cfcHardware;
    device = FDevice.empty() ? FPort : FDevice;
  }
  try {
    FComPort.Open(device, baud, hardware);
  } catch (const std::exception& e) {
    AddErrLogTask(e.what());
    return false;
  }
  return true;
}

void TComTransport::Disconnect() {
  try {
    FComPort.Close();
  } catch (const std::exception&) {
    LogDebug("[" + std::to_string(GetID()) + "] Exception in TComTransport.Disconnect on FComPort.Close");
  }
}

TBaseTransportTask* TComTransport::CreateTask() {
  return Directory().AddToGarbage(std::make_unique<TComTransportTask>());
}

void TComTransport::RxChar() {
  std::uint8_t chunk[256];
  while (FComPort.InputCount() > 0) {
    const int n = FComPort.Read(chunk, sizeof chunk);
    if (n <= 0) break;
    for (int k = 0; k < n; ++k) FBuffer.SetItem(chunk[k]);
  }
  FRxChar.Set();
}

void TComTransport::TxEmpty() { FTxEmpty.Set(); }

}  // namespace tarvo
