#pragma once
// The worker classes the server program makes: the serial transports and the ModBus master.

#include "server/core/ServerFactory.h"

namespace tarvo {

class TServerWorkerMaker : public IWorkerMaker {
 public:
  // tenBitsForAll: the settings file's switch, read once at start.
  explicit TServerWorkerMaker(bool tenBitsForAll) : FTenBitsForAll(tenBitsForAll) {}
  std::shared_ptr<TBaseTransport> NewTransport(std::int32_t type, IWorkerDirectory& dir) override;
  std::shared_ptr<TBaseMaster> NewMaster(std::int32_t type, IWorkerDirectory& dir) override;

 private:
  const bool FTenBitsForAll;
};

// "TRS232Transport", ...: the class that serves a transport type, as the window lists it.
const char* TransportClassName(TTransportType type);

}  // namespace tarvo
