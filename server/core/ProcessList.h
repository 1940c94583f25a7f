#pragma once
// Which client processes are still alive, for the factory's client check.

#include <cstdint>

namespace tarvo {

// True while the process exists and has not exited (a zombie that has not been reaped counts as
// gone: its client can no longer hold anything).
bool IsProcessRunning(std::uint32_t pid);

}  // namespace tarvo
