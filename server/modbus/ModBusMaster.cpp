#include "server/modbus/ModBusMaster.h"

#include <algorithm>
#include <exception>

#include "server/core/BaseTransport.h"
#include "server/core/LogKeeper.h"
#include "server/core/ReplyArray.h"
#include "server/modbus/ModbusRequest.h"

namespace tarvo {

namespace {
TModbusTask* AsModbus(TBaseMasterTask* t) { return static_cast<TModbusTask*>(t); }
}  // namespace

TModBusMaster::TModBusMaster(IWorkerDirectory& directory, bool tenBitsForAll, Clock& clock)
    : TBaseMaster(directory, mtMB, clock), FTenBitsForAll(tenBitsForAll) {
  Start();
}

TModBusMaster::~TModBusMaster() { Shutdown(); }

void TModBusMaster::SetProps(const Variant& props) {
  std::lock_guard lock(FLock);
  if (FClosing) return;
  FSettings = ReadModbusSettings(props);
}

void TModBusMaster::AddTask(const Variant& request) {
  {
    std::lock_guard lock(FLock);
    auto t = std::make_unique<TModbusTask>(MakeRequest(request, FSettings));
    if (t->Period > 0) {
      t->Priority = kPriorityPeriodic;
      t->NextRunTime = GetClock().TickCount();  // due at once
    } else {
      t->Priority = kPriorityOneShot;
    }
    PutTask(std::move(t));
    FNewTaskEvent.Set();
  }
  TBaseMaster::AddTask(request);
}

void TModBusMaster::RunTaskInplace(const Variant& request, Variant& reply, std::int32_t timeout) {
  reply = Variant();
  std::uint64_t serial;
  TModbusTask head;  // what the reply of a call that runs out of time echoes
  {
    std::lock_guard lock(FLock);
    auto t = std::make_unique<TModbusTask>(MakeRequest(request, FSettings));
    t->Period = 0;
    t->Priority = kPriorityOneShot;
    t->Inplace = true;
    head.CallType = t->CallType;
    head.QID = t->QID;
    head.DevAddr = t->DevAddr;
    head.FunNum = t->FunNum;
    serial = ++FInplaceSerial;
    FInplaceTask = t.get();
    FInplaceEvent.Reset();
    PutTask(std::move(t));
    FNewTaskEvent.Set();
  }
  TBaseMaster::AddTask(request);

  const std::uint32_t limit = timeout <= 0 ? kDefaultInplaceTimeoutMs
                                           : std::min<std::uint32_t>(timeout, 600000);
  const std::uint64_t deadline = GetClock().NowMs() + limit;
  for (;;) {
    const std::uint64_t now = GetClock().NowMs();
    const auto left = static_cast<std::uint32_t>(deadline > now ? deadline - now : 0);
    const WaitResult r = GetClock().Wait(&FInplaceEvent, nullptr, left);
    std::lock_guard lock(FLock);
    if (FInplaceDone == serial) {
      reply = FInplaceCallValue;
      FInplaceCallValue = Variant();
      return;
    }
    if (r == WaitResult::Timeout || left == 0) {
      // Out of time: the request is cancelled where it stands, its late answer dropped.
      if (FInplaceTask) {
        FInplaceTask->Canceled = true;
        FInplaceTask = nullptr;
      }
      reply = MakeReply(head, Variant(), mbcNoAnswer);
      return;
    }
  }
}

void TModBusMaster::ParseAnswer(TBaseTransportTask* task) {
  std::lock_guard lock(FLock);
  if (FClosing) {
    Directory().DestroyGarbage(task);
    return;
  }
  auto t = std::make_unique<TModbusTask>();
  t->TaskType = mtParse;
  t->ttask = task;
  t->QID = task->QID;
  t->Priority = kPriorityAnswer;
  PutTask(std::move(t));
  FNewTaskEvent.Set();
}

void TModBusMaster::FreeCanceledTask(std::unique_ptr<TBaseMasterTask> task) {
  if (!task) return;
  auto* t = AsModbus(task.get());
  if (t->ttask) Directory().DestroyGarbage(t->ttask);
  std::lock_guard lock(FLock);
  if (FInplaceTask == t) FinishInplace(Variant());  // a discarded in-place call gets nothing
}

void TModBusMaster::TasksCancelled() {
  // A cancel is for requests. An answer already queued must still be parsed: that is what takes
  // its cancelled request out of the wait list, where it would otherwise stay and take the
  // answer of the next request with the same QID.
  for (auto& t : FTaskList)
    if (AsModbus(t.get())->TaskType == mtParse) t->Canceled = false;
  // A cancelled in-place call returns at once with an empty reply; its request stays where it
  // is, marked, and is dropped at the next look.
  if (FInplaceTask && FInplaceTask->Canceled) FinishInplace(Variant());
}

void TModBusMaster::FinishInplace(Variant reply) {
  FInplaceTask = nullptr;
  FInplaceCallValue = std::move(reply);
  FInplaceDone = FInplaceSerial;
  FInplaceEvent.Set();
}

std::uint32_t TModBusMaster::FormTransportTaskProps(const TModbusTask& task) const {
  std::uint32_t props = task.Mode == mmASCII ? 2 : 3;
  switch (task.Parity) {
    case mpOdd: props |= 4; break;
    case mpEven: props |= 8; break;
    default:
      if (FTenBitsForAll) props |= 64;  // two stop bits keep the character at eleven bits
      break;
  }
  return props;
}

void TModBusMaster::Deliver(const TModbusTask& task, const Variant& reply) {
  if (task.Inplace) {
    std::lock_guard lock(FLock);
    if (FInplaceTask == &task) FinishInplace(reply);
    return;
  }
  InvokeExchange(reply);
}

std::int64_t TModBusMaster::TicksUntil(std::uint32_t tick) {
  // Differences of the wrapping tick count, so that a poll keeps running across the wrap.
  return static_cast<std::int32_t>(tick - GetClock().TickCount());
}

TModbusTask* TModBusMaster::DuePeriodic() {
  std::vector<std::unique_ptr<TBaseMasterTask>> cancelled;
  TModbusTask* best = nullptr;
  std::int64_t bestWait = 0;
  {
    std::lock_guard lock(FLock);
    for (auto it = FTaskList.begin(); it != FTaskList.end();) {
      auto* t = AsModbus(it->get());
      if (t->Canceled) {
        cancelled.push_back(std::move(*it));
        it = FTaskList.erase(it);
        continue;
      }
      if (t->Priority == kPriorityPeriodic) {
        const std::int64_t wait = TicksUntil(t->NextRunTime);
        if (!best || wait < bestWait) {  // the earliest; ties keep queue order
          best = t;
          bestWait = wait;
        }
      }
      ++it;
    }
  }
  for (auto& t : cancelled) FreeCanceledTask(std::move(t));
  if (!best) return nullptr;
  if (bestWait <= 0) return best;
  GetClock().Wait(&FNewTaskEvent, nullptr, static_cast<std::uint32_t>(bestWait));
  return nullptr;
}

bool TModBusMaster::RunTask(TBaseMasterTask* base) {
  auto* task = AsModbus(base);
  if (task->TaskType == mtParse) {
    RunParse(task);
    return true;
  }
  return RunForm(task);
}

bool TModBusMaster::RunForm(TModbusTask* task) {
  if (task->WrongType) {
    std::unique_ptr<TBaseMasterTask> owned = RemoveTask(task);
    Deliver(*task, MakeReply(*task, Variant(), mbcWrongType));
    FreeCanceledTask(std::move(owned));
    return true;
  }
  if (task->Priority == kPriorityPeriodic) {
    // Not only the head: the periodic request due first goes, so a slow poll never holds up a
    // fast one queued behind it.
    task = DuePeriodic();
    if (!task) return false;
  }
  std::unique_ptr<TBaseMasterTask> owned = RemoveTask(task);
  if (!owned) return false;
  ++task->TimesRunned;
  PutWaitTask(std::move(owned));

  std::shared_ptr<TBaseTransport> tr = Directory().GetTransport(GetTransportID());
  if (!tr) {
    LogDebug("TModBusMaster.Execute; tri = nil; canceling all tasks");
    // The requests already sent (and an in-place call) are answered first, so that the cancel
    // does not turn the in-place reply into an empty one; the rest are cancelled unanswered.
    AnswerAllWaiting18();
    CancelAllTasks();
    return false;
  }
  TBaseTransportTask* tt = nullptr;
  try {
    std::lock_guard trLock(tr->LockObject());
    tt = tr->CreateTask();
    tt->Bufsize = FormQuery(tt->Buf, *task);
    tt->MasterID = GetID();
    tt->QID = task->QID;
    tt->Props = FormTransportTaskProps(*task);
    if (tr->GetTransportType() == ttModem) tt->Props &= ~lineprops::kStopBitsMask;
    tt->WaitForAnswer = task->DevAddr > 0;
  } catch (const FrameOverflowError& e) {
    // A frame that does not fit is answered at once instead of waiting for ever.
    Directory().DestroyGarbage(tt);
    LogDebug("Мастер " + std::to_string(GetID()) + ": Exeption (" + e.what() +
             ") caught in Execute");
    std::unique_ptr<TBaseMasterTask> waiting;
    {
      std::lock_guard lock(FLock);
      for (auto it = FWaitList.begin(); it != FWaitList.end(); ++it) {
        if (it->get() == task) {
          waiting = std::move(*it);
          FWaitList.erase(it);
          break;
        }
      }
    }
    if (waiting) {
      Deliver(*task, MakeReply(*task, Variant(), mbcWrongType));
      FreeCanceledTask(std::move(waiting));
    }
    return false;
  } catch (...) {
    Directory().DestroyGarbage(tt);
    throw;
  }
  tr->AddTask(tt);
  return true;
}

void TModBusMaster::AnswerAllWaiting18() {
  std::list<std::unique_ptr<TBaseMasterTask>> waiting;
  TModbusTask* queuedInplace = nullptr;
  {
    std::lock_guard lock(FLock);
    waiting.swap(FWaitList);
    if (FInplaceTask &&
        std::none_of(waiting.begin(), waiting.end(),
                     [this](const auto& t) { return t.get() == FInplaceTask; }))
      queuedInplace = FInplaceTask;
  }
  for (auto& owned : waiting) {
    auto* t = AsModbus(owned.get());
    Deliver(*t, MakeReply(*t, Variant::Null(), mbcNoTransport));
    FreeCanceledTask(std::move(owned));
  }
  // An in-place call still queued hears of the missing transport too.
  if (queuedInplace) Deliver(*queuedInplace, MakeReply(*queuedInplace, Variant::Null(), mbcNoTransport));
}

void TModBusMaster::RunParse(TModbusTask* task) {
  std::unique_ptr<TBaseMasterTask> owned = RemoveTask(task);
  std::exception_ptr failure;
  std::unique_ptr<TBaseMasterTask> reqOwned = GetWaitTask(task->ttask->QID);
  if (reqOwned) {
    auto* req = AsModbus(reqOwned.get());
    if (req->Canceled) {
      FreeCanceledTask(std::move(reqOwned));
    } else {
      --req->FRetriesLeft;
      Variant reply;
      const int result = Parse(*task->ttask, *req, FTempBuf, reply);
      if (result != mbcOK && req->FRetriesLeft > 0) {
        PutTask(std::move(reqOwned));
        FNewTaskEvent.Set();
      } else {
        try {
          Deliver(*req, reply);
        } catch (...) {
          failure = std::current_exception();
        }
        if (req->Period > 0 && !req->Inplace) {
          req->NextRunTime = GetClock().TickCount() + req->Period;
          req->FRetriesLeft = req->Retries;
          PutTask(std::move(reqOwned));
          FNewTaskEvent.Set();
        } else {
          FreeCanceledTask(std::move(reqOwned));
        }
        ++FTasksProcesses;
      }
    }
  }
  FreeCanceledTask(std::move(owned));
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tarvo
