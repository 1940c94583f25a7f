#include "platform/serial/PseudoTerminal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace tarvo {

PseudoTerminal::PseudoTerminal() {
  master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master_.Valid() || ::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0) {
    ADD_FAILURE() << "no pseudo-terminal";
    return;
  }
  char name[128];
  if (::ptsname_r(master_.Get(), name, sizeof name) != 0) {
    ADD_FAILURE() << "no slave name";
    return;
  }
  slavePath_ = name;
  // Non-blocking so Receive never hangs the test when the slave side is gone.
  ::fcntl(master_.Get(), F_SETFL, ::fcntl(master_.Get(), F_GETFL) | O_NONBLOCK);
}

void PseudoTerminal::Send(const std::vector<std::uint8_t>& bytes) {
  ASSERT_EQ(::write(master_.Get(), bytes.data(), bytes.size()),
            static_cast<ssize_t>(bytes.size()));
}

std::vector<std::uint8_t> PseudoTerminal::Receive(std::size_t count,
                                                  std::chrono::milliseconds wait) {
  std::vector<std::uint8_t> got;
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (got.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{master_.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    std::uint8_t buf[256];
    const ssize_t n = ::read(master_.Get(), buf, sizeof buf);
    if (n > 0) got.insert(got.end(), buf, buf + n);
    else if ((p.revents & POLLHUP) != 0) ::poll(nullptr, 0, 10);  // slave closed: no spin
  }
  return got;
}

}  // namespace tarvo
