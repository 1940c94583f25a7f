#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <shared_mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/serial/SerialTermios.h"
#include "platform/serial/UniqueFd.h"

namespace tarvo {

// A serial port that could not be opened or named; the message says which.
class SerialError : public std::runtime_error {
 public:
  using runtime_error::runtime_error;
};

// A serial device opened exclusively, raw and non-blocking, with an event thread that reports
// received bytes and an empty transmit buffer through callbacks.
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();  // the destructor closes

  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Run on the port's event thread; set them before Open. They may call InputCount, Read,
  // WriteByte and Close, but not Open, and must not destroy the port.
  std::function<void()> OnRxChar;   // bytes are waiting: read them with InputCount/Read
  std::function<void()> OnTxEmpty;  // everything written has left

  // Closes first when already open. Raises SerialError naming the path.
  void Open(const std::string& path, int baud, bool hardwareFlow);
  // Idempotent; stops the event thread first. Called from a callback it only stops the thread,
  // and the next Close, Open or the destructor finishes the job.
  void Close();
  bool IsOpen() const;

  // Per frame. Returns false when the format had to be approximated (Linux has no one and a half
  // stop bits: two are used) or could not be applied.
  bool SetFormat(const SerialFormat& f);
  int InputCount();                      // bytes waiting to be read; 0 when closed
  int Read(std::uint8_t* buf, int max);  // non-blocking; bytes read, 0 when none
  // True when the byte was accepted; waits up to 1 s for room; false when closed or on error.
  bool WriteByte(std::uint8_t b);
  void PurgeOutput();    // drop what is queued for sending
  void SetRTS(bool on);  // devices without modem lines (pseudo-terminals) ignore it

  static bool IsSupportedBaud(int baud);  // 1200 2400 4800 9600 19200 38400 57600 115200

 private:
  void EventLoop();
  void CheckTxEmpty(int fd, std::uint64_t& reported);
  void Stop();
  void Finish();
  void Signal(int fd);

  std::mutex lifecycle_;      // serialises Open and Close
  std::shared_mutex fdLock_;  // shared while a call uses the fds, exclusive to close them
  UniqueFd fd_;
  UniqueFd stop_;  // eventfd, left signalled: wakes the event thread and a waiting WriteByte
  UniqueFd kick_;  // eventfd, drained by the event thread: a write wants OnTxEmpty soon
  std::thread thread_;
  std::atomic<std::thread::id> eventThread_{};  // lets Close spot a call from a callback
  std::atomic<bool> open_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> writes_{0};  // bytes accepted so far; TxEmpty reports catch up
  std::atomic<std::uint64_t> successfulReads_{0};  // tells a draining callback from an idle one
};

}  // namespace tarvo
