#pragma once
// Which client processes are still alive, for the factory's client check.

#include <cstdint>
#include <vector>

namespace tarvo {

// True while the process exists and has not exited (a zombie that has not been reaped counts as
// gone: its client can no longer hold anything).
bool IsProcessRunning(std::uint32_t pid);

// Every running process ID of the machine, from /proc.
std::vector<std::uint32_t> RunningProcessIDs();

}  // namespace tarvo
