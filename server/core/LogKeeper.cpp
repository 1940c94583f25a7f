#include "server/core/LogKeeper.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <shared_mutex>
#include <stdexcept>
#include <system_error>

#include "platform/variant/OleDate.h"

namespace tarvo {

namespace {

constexpr const char* kStartLine = "*************** Старт сервера ******************";
constexpr const char* kCloseLine = "*************** Закрытие сервера ***************";

// Producers hold it shared while they reach the keeper, so the destructor, which takes it
// exclusively to unregister, cannot free the keeper under them.
std::shared_mutex& InstanceMutex() {
  static std::shared_mutex m;
  return m;
}

TLogKeeper*& InstancePtr() {
  static TLogKeeper* p = nullptr;
  return p;
}

double LocalWallClock() {
  using namespace std::chrono;
  const std::int64_t ms =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const std::time_t secs = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : (ms - 999) / 1000);
  std::tm tm{};
  localtime_r(&secs, &tm);
  DateTimeParts p;
  p.year = tm.tm_year + 1900;
  p.month = tm.tm_mon + 1;
  p.day = tm.tm_mday;
  p.hour = tm.tm_hour;
  p.minute = tm.tm_min;
  p.second = tm.tm_sec;
  p.msec = static_cast<int>(ms - static_cast<std::int64_t>(secs) * 1000);
  return EncodeOleDate(p);
}

std::string FormatStamp(double oleDate) {
  const DateTimeParts p = DecodeOleDate(oleDate);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d.%03d", p.day, p.month, p.year,
                p.hour, p.minute, p.second, p.msec);
  return buf;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Empty on success, else the reason.
std::string AppendToFile(const std::string& path, const std::string& text) {
  std::unique_ptr<std::FILE, FileCloser> f(std::fopen(path.c_str(), "ab"));
  if (!f) return std::generic_category().message(errno);
  if (std::fwrite(text.data(), 1, text.size(), f.get()) != text.size() || std::fflush(f.get()) != 0)
    return std::generic_category().message(errno);
  // fclose can still report a write-back error (a full disk on NFS, for one).
  if (std::fclose(f.release()) != 0) return std::generic_category().message(errno);
  return {};
}

}  // namespace

TLogKeeper::TLogKeeper(TLogKeeperOptions options)
    : FLogDir(std::move(options.LogDir)),
      FNoDebugMessages(options.NoDebugMessages),
      FKeepLog(options.KeepLog),
      FNow(options.Now ? std::move(options.Now) : std::function<double()>(LocalWallClock)) {
  // Made outside the locks: Now is the caller's code.
  auto startLine = Dropped(false) ? nullptr : MakeSimple(kStartLine, false);
  {
    // The start line goes in under the same lock that publishes the keeper, so no LogAction
    // record can come before it.
    std::unique_lock lock(InstanceMutex());
    if (InstancePtr() != nullptr) throw std::logic_error("TLogKeeper: a log keeper already exists");
    if (startLine) Push(std::move(startLine));
    InstancePtr() = this;
  }
  try {
    FThread = std::thread(&TLogKeeper::Run, this);
  } catch (...) {
    std::unique_lock lock(InstanceMutex());
    InstancePtr() = nullptr;
    throw;
  }
}

TLogKeeper::~TLogKeeper() {
  {
    // Waits for producers inside LogAction; none can reach this keeper afterwards, so the
    // closing line stays the last one.
    std::unique_lock lock(InstanceMutex());
    InstancePtr() = nullptr;
  }
  auto closeLine = Dropped(false) ? nullptr : MakeSimple(kCloseLine, false);
  {
    std::lock_guard lock(FLock);
    if (closeLine) PushLocked(std::move(closeLine));
    FTerminated = true;
    FNewTaskEvent.Set();
  }
  FThread.join();
}

TLogKeeper* TLogKeeper::Instance() {
  std::shared_lock lock(InstanceMutex());
  return InstancePtr();
}

std::unique_ptr<TBaseLogTask> TLogKeeper::MakeSimple(std::string text, bool debug) const {
  auto task = std::make_unique<TSimpleLogTask>();
  task->DateStamp = FNow();
  task->Debug = debug;
  task->Text = std::move(text);
  return task;
}

void TLogKeeper::PushLocked(std::unique_ptr<TBaseLogTask> task) {
  FTaskList.push_back(std::move(task));
  FIdleEvent.Reset();
  // Set under the lock: the writer resets the event under the same lock only when it finds the
  // queue empty, so a wake-up is never lost and never left over.
  FNewTaskEvent.Set();
}

void TLogKeeper::Push(std::unique_ptr<TBaseLogTask> task) {
  std::lock_guard lock(FLock);
  PushLocked(std::move(task));
}

void TLogKeeper::AddTask(std::string text) {
  if (Dropped(false)) return;
  Push(MakeSimple(std::move(text), false));
}

void TLogKeeper::AddDebugTask(std::string text) {
  // The default drops debug lines; don't pay for a record the writer would throw away.
  if (Dropped(true)) return;
  Push(MakeSimple(std::move(text), true));
}

void TLogKeeper::AddTask(std::unique_ptr<TBaseLogTask> task) {
  if (task) Push(std::move(task));
}

void TLogKeeper::AddTransportData(std::int32_t transportID, const std::uint8_t* bytes,
                                  std::int32_t count, std::int32_t direction, bool result) {
  if (Dropped(false)) return;
  auto task = std::make_unique<TTransportDataLogTask>();
  task->DateStamp = FNow();
  task->TransportID = transportID;
  task->Direction = direction;
  task->Result = result;
  const std::int32_t n = (result && bytes) ? std::clamp<std::int32_t>(count, 0, kTaskBufSize) : 0;
  if (n > 0) std::memcpy(task->Buf.data(), bytes, static_cast<std::size_t>(n));
  task->Bufsize = n;
  Push(std::move(task));
}

bool TLogKeeper::WaitIdle(uint32_t timeoutMs) {
  return FIdleEvent.Wait(timeoutMs);
}

std::string TLogKeeper::BufToStr(const std::uint8_t* bytes, int count) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  if (!bytes || count <= 0) return s;
  s.reserve(static_cast<std::size_t>(count) * 3);
  for (int i = 0; i < count; ++i) {
    s += kHex[bytes[i] >> 4];
    s += kHex[bytes[i] & 0x0F];
    s += ' ';
  }
  return s;
}

std::string TLogKeeper::FormatLine(const TBaseLogTask& task) {
  std::string line = FormatStamp(task.DateStamp);
  line += '\t';
  if (task.Debug) line += "Debug: ";
  // A record whose class does not match its type is written as the stamp alone.
  if (task.FTaskType == ltSimple) {
    if (auto* t = dynamic_cast<const TSimpleLogTask*>(&task)) line += t->Text;
  } else if (task.FTaskType == ltTransportData) {
    if (auto* t = dynamic_cast<const TTransportDataLogTask*>(&task)) {
      line += '[';
      line += std::to_string(t->TransportID);
      line += "]\t";
      line += t->Direction == kLogDirectionOut ? "Out\t" : "In\t";
      line += t->Result ? "OK\t" : "Err\t";
      // A ready-made record may carry any Bufsize; never read past its buffer.
      line += BufToStr(t->Buf.data(), std::clamp<std::int32_t>(t->Bufsize, 0, kTaskBufSize));
    }
  }
  line += "\r\n";
  return line;
}

std::string TLogKeeper::LogFileName(const std::string& logDir, double oleDate) {
  const DateTimeParts p = DecodeOleDate(oleDate);
  std::tm tm{};
  tm.tm_mon = p.month - 1;
  char month[64];
  if (std::strftime(month, sizeof month, "%b", &tm) == 0) month[0] = '\0';
  char name[96];
  std::snprintf(name, sizeof name, "%02d%s%04d.log", p.day, month, p.year);
  if (logDir.empty()) return name;
  return logDir.back() == '/' ? logDir + name : logDir + '/' + name;
}

void TLogKeeper::SetObserver(TObserver observer) {
  std::lock_guard lock(FObserverLock);
  FObserver = std::move(observer);
}

void TLogKeeper::Run() {
  for (;;) {
    std::unique_ptr<TBaseLogTask> task;
    {
      std::lock_guard lock(FLock);
      if (FTaskList.empty()) {
        if (FTerminated) {
          FIdleEvent.Set();
          return;
        }
        FNewTaskEvent.Reset();
        FIdleEvent.Set();
      } else {
        task = std::move(FTaskList.front());
        FTaskList.pop_front();
      }
    }
    if (task) {
      Write(*task);
      if (!Dropped(task->Debug)) {
        std::lock_guard lock(FObserverLock);
        if (FObserver) {
          try {
            FObserver(*task);
          } catch (...) {
            // A window that cannot show a line must not stop the log.
          }
        }
      }
    } else {
      FNewTaskEvent.Wait(kInfinite);
    }
  }
}

void TLogKeeper::Write(const TBaseLogTask& task) {
  if (Dropped(task.Debug)) return;
  std::string path;
  try {
    // The day of writing, not of the stamp: lines queued before midnight and written after it
    // belong to the new day's file.
    path = LogFileName(FLogDir, FNow());
    if (!FLogDir.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(FLogDir, ec);
      if (ec) {
        ReportFailure("cannot create log folder " + FLogDir, ec.message());
        return;
      }
    }
    const std::string reason = AppendToFile(path, FormatLine(task));
    if (!reason.empty()) {
      ReportFailure("cannot write log file " + path, reason);
      return;
    }
    FFailureReported = false;
  } catch (const std::exception& e) {
    ReportFailure("cannot write log file " + path, e.what());
  }
}

void TLogKeeper::ReportFailure(const std::string& what, const std::string& reason) {
  // Logging the failure to the log itself would fail the same way, forever; tell stderr once
  // per outage and drop records until a write succeeds again.
  if (FFailureReported) return;
  FFailureReported = true;
  const std::string msg =
      "TarvoSrv: " + what + ": " + reason + "; log records are dropped until it can be written\n";
  std::fputs(msg.c_str(), stderr);
  std::fflush(stderr);
}

void LogAction(std::string text) {
  std::shared_lock lock(InstanceMutex());
  if (TLogKeeper* k = InstancePtr()) k->AddTask(std::move(text));
}

void LogDebug(std::string text) {
  std::shared_lock lock(InstanceMutex());
  if (TLogKeeper* k = InstancePtr()) k->AddDebugTask(std::move(text));
}

void LogTransportData(std::int32_t transportID, const std::uint8_t* bytes, std::int32_t count,
                      std::int32_t direction, bool result) {
  std::shared_lock lock(InstanceMutex());
  if (TLogKeeper* k = InstancePtr())
    k->AddTransportData(transportID, bytes, count, direction, result);
}

}  // namespace tarvo
