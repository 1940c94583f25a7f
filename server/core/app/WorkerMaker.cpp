#include "server/core/app/WorkerMaker.h"

#include "server/modbus/ModBusMaster.h"
#include "server/transports/RS232Transport.h"
#include "server/transports/RS485Transport.h"

namespace tarvo {

std::shared_ptr<TBaseTransport> TServerWorkerMaker::NewTransport(std::int32_t type,
                                                                 IWorkerDirectory& dir) {
  switch (type) {
    case ttRS232: return std::make_shared<TRS232Transport>(dir);
    case ttRS485: return std::make_shared<TRS485Transport>(dir);
    default: return nullptr;  // the modem, trivial-FTP and USB links are not built yet
  }
}

std::shared_ptr<TBaseMaster> TServerWorkerMaker::NewMaster(std::int32_t type,
                                                           IWorkerDirectory& dir) {
  if (type == mtMB) return std::make_shared<TModBusMaster>(dir, FTenBitsForAll);
  return nullptr;
}

const char* TransportClassName(TTransportType type) {
  switch (type) {
    case ttRS232: return "TRS232Transport";
    case ttRS485: return "TRS485Transport";
    case ttModem: return "TModemTransport";
    case ttTFTP: return "TTFTPTransport";
    case ttUSB: return "TUSBTransport";
  }
  return "TBaseTransport";
}

}  // namespace tarvo
