#pragma once
// The server's ModBus master: queues requests by priority, sends each as a transport task on its
// transport, checks and decodes the answer, retries failed requests, repeats periodic ones and
// delivers one reply array per completed attempt.

#include <cstdint>

#include "server/core/BaseMaster.h"
#include "server/core/MasterProps.h"
#include "server/modbus/ModbusCodec.h"

namespace tarvo {

class TModBusMaster : public TBaseMaster {
 public:
  // An in-place call with no time limit of its own waits this long.
  static constexpr std::uint32_t kDefaultInplaceTimeoutMs = 30000;

  // tenBitsForAll: the server setting read once at start (no parity means two stop bits).
  TModBusMaster(IWorkerDirectory& directory, bool tenBitsForAll, Clock& clock = SystemClock());
  ~TModBusMaster() override;

  bool RunTask(TBaseMasterTask* task) override;
  void FreeCanceledTask(std::unique_ptr<TBaseMasterTask> task) override;
  void TasksCancelled() override;
  void ParseAnswer(TBaseTransportTask* task) override;
  // Reads elements 1 to 6; raises VariantError (changing nothing) when they cannot be read.
  void SetProps(const Variant& props) override;
  void AddTask(const Variant& request) override;
  // Blocks until the reply, at most `timeout` ms (0 or less: the default). A request that runs
  // out of time is cancelled and answered with mbcNoAnswer; a cancelled one gives an empty reply.
  void RunTaskInplace(const Variant& request, Variant& reply, std::int32_t timeout) override;

  // The line settings of a frame of this request.
  std::uint32_t FormTransportTaskProps(const TModbusTask& task) const;

 private:
  bool RunForm(TModbusTask* task);
  void RunParse(TModbusTask* task);
  // The periodic request to send now, or nullptr after waiting for the earliest one.
  TModbusTask* DuePeriodic();
  void Deliver(const TModbusTask& task, const Variant& reply);
  void AnswerAllWaiting18();
  // Ends the in-place call in flight with this reply (FLock held).
  void FinishInplace(Variant reply);
  std::int64_t TicksUntil(std::uint32_t tick);

  TModbusSettings FSettings;
  const bool FTenBitsForAll;
  TFrameBuf FTempBuf{};
  // The in-place request in flight (callers are serialised by their automation object), and the
  // serial number that ties a reply to the call that waits for it.
  TModbusTask* FInplaceTask = nullptr;
  std::uint64_t FInplaceSerial = 0;
  std::uint64_t FInplaceDone = 0;
};

}  // namespace tarvo
