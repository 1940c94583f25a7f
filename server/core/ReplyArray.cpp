#include "server/core/ReplyArray.h"

namespace tarvo {

Variant MakeReply(std::uint8_t callType, std::int32_t qid, std::uint8_t devAddr,
                  std::uint8_t funNum, Variant value, std::int32_t result) {
  if (result == mbcNoTransport) value = Variant::Null();
  else if (result != mbcOK || devAddr == 0 || callType == mbWriteHoldRegs ||
           callType == mbWriteHoldCoils)
    value = Variant();
  SafeArray a(VT_VARIANT, 0, kReplySize);
  a.SetFlat(riCallType, Variant(callType));
  a.SetFlat(riQID, Variant(qid));
  a.SetFlat(riDevAddr, Variant(devAddr));
  a.SetFlat(riFunNum, Variant(funNum));
  a.SetFlat(riValue, std::move(value));
  if (result == mbcWrongType || result == mbcNoTransport)
    a.SetFlat(riResult, Variant(static_cast<std::uint8_t>(result)));
  else
    a.SetFlat(riResult, Variant(result));
  return Variant(std::move(a));
}

Variant MakeReply(const TModbusTask& task, Variant value, std::int32_t result) {
  return MakeReply(task.CallType, task.QID, task.DevAddr, task.FunNum, std::move(value), result);
}

}  // namespace tarvo
