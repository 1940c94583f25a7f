#pragma once
// Polls a condition in real time until it holds or the limit passes: for tests that watch worker
// threads, so that none sleeps a fixed time and none waits for ever.

#include <chrono>
#include <functional>
#include <thread>

namespace tarvo::testing {

inline bool Eventually(const std::function<bool()>& pred,
                       std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return pred();
}

}  // namespace tarvo::testing
