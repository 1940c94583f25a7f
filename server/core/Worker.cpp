#include "server/core/Worker.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>

#include "server/core/LogKeeper.h"

namespace tarvo {

std::int32_t NewWorkerID() {
  // Small positive numbers that never repeat while the process lives; -1 is "none".
  static std::atomic<std::int32_t> next{1001};
  std::int32_t id = next.fetch_add(1);
  if (id < 0) id = next.fetch_add(1) & 0x7FFFFFFF;  // after 2^31 workers
  return id;
}

void ApplyThreadClass(std::thread& thread, TThreadClass cls) {
  if (cls != TThreadClass::TimeCritical) return;
  sched_param param{};
  param.sched_priority = sched_get_priority_min(SCHED_FIFO);
  if (pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param) != 0) {
    static std::atomic<bool> said{false};
    if (!said.exchange(true))
      LogAction("Нет прав на приоритет реального времени: транспорты работают с обычным "
                "приоритетом");
  }
}

void TWorkerThread::Start(std::function<void()> body, TThreadClass cls) {
  thread_ = std::thread(std::move(body));
  ApplyThreadClass(thread_, cls);
}

void TWorkerThread::Stop(Event& wake) {
  terminated_ = true;
  wake.Set();
  Join();
}

void TWorkerThread::Join() {
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

}  // namespace tarvo
