#pragma once
// The server's diagnostics: producers queue records, the keeper's own thread appends them to one
// text file per day, so no producer ever waits for the disk.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/sync/Event.h"
#include "server/core/LogTasks.h"

namespace tarvo {

struct TLogKeeperOptions {
  std::string LogDir;  // empty: the current folder
  bool NoDebugMessages = true;
  bool KeepLog = true;
  // OLE date-time source, called by producers for stamps and by the writer for the day's file
  // name, so it must be callable from any thread. Empty: the local wall clock.
  std::function<double()> Now;
};

// The process's single log writer thread and its queue.
class TLogKeeper {
 public:
  // Raises std::logic_error while another keeper exists.
  explicit TLogKeeper(TLogKeeperOptions options);
  // Writes everything queued, the closing line last, before it returns.
  ~TLogKeeper();

  TLogKeeper(const TLogKeeper&) = delete;
  TLogKeeper& operator=(const TLogKeeper&) = delete;

  // The live keeper or nullptr. The pointer is only safe where the keeper is known to outlive
  // the caller; everywhere else use LogAction and LogDebug.
  static TLogKeeper* Instance();

  void AddTask(std::string text);
  void AddDebugTask(std::string text);
  void AddTask(std::unique_ptr<TBaseLogTask> task);  // null is ignored
  // count is clamped to 0..kTaskBufSize; the bytes are copied only when result is true.
  void AddTransportData(std::int32_t transportID, const std::uint8_t* bytes, std::int32_t count,
                        std::int32_t direction, bool result);

  // True once the queue is empty and no record is being written; false on time-out. Not from
  // the keeper's own thread (the Now function).
  bool WaitIdle(uint32_t timeoutMs);

  // Called on the keeper's thread with every record it writes (the server's window shows the
  // recent ones). Set before records are queued; not changed while the keeper runs.
  using TObserver = std::function<void(const TBaseLogTask&)>;
  void SetObserver(TObserver observer);

  bool NoDebugMessages() const { return FNoDebugMessages; }
  bool KeepLog() const { return FKeepLog; }
  const std::string& LogDir() const { return FLogDir; }

  // "01 03 0A " : each byte as two upper-case hexadecimal digits and a space.
  static std::string BufToStr(const std::uint8_t* bytes, int count);
  // The whole line of a record, CR LF included.
  static std::string FormatLine(const TBaseLogTask& task);
  // logDir + "/ddmmmyyyy.log" for the day of oleDate, the month as the LC_TIME locale's "%b".
  static std::string LogFileName(const std::string& logDir, double oleDate);

 private:
  bool Dropped(bool debug) const { return !FKeepLog || (debug && FNoDebugMessages); }
  void Push(std::unique_ptr<TBaseLogTask> task);
  void PushLocked(std::unique_ptr<TBaseLogTask> task);  // FLock held
  std::unique_ptr<TBaseLogTask> MakeSimple(std::string text, bool debug) const;
  void Run();
  void Write(const TBaseLogTask& task);
  void ReportFailure(const std::string& what, const std::string& reason);

  const std::string FLogDir;
  const bool FNoDebugMessages;
  const bool FKeepLog;
  const std::function<double()> FNow;

  std::mutex FObserverLock;
  TObserver FObserver;  // guarded by FObserverLock
  std::mutex FLock;
  std::deque<std::unique_ptr<TBaseLogTask>> FTaskList;  // guarded by FLock
  bool FTerminated = false;                             // guarded by FLock
  Event FNewTaskEvent{/*manualReset=*/true};            // set with every append, under FLock
  Event FIdleEvent{/*manualReset=*/true};  // set while the queue is empty and nothing is written

  bool FFailureReported = false;  // writer thread only

  std::thread FThread;  // last: the thread starts once every field above exists
};

// Forward to the live keeper; do nothing when there is none. Safe against a keeper being
// destroyed at the same time.
void LogAction(std::string text);
void LogDebug(std::string text);
void LogTransportData(std::int32_t transportID, const std::uint8_t* bytes, std::int32_t count,
                      std::int32_t direction, bool result);

}  // namespace tarvo
