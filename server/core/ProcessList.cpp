#include "server/core/ProcessList.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace tarvo {

bool IsProcessRunning(std::uint32_t pid) {
  if (pid == 0) return false;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  FILE* f = std::fopen(path.c_str(), "re");
  if (!f) return false;
  char buf[512];
  const std::size_t n = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  buf[n] = '\0';
  // "pid (comm) S ...": the state follows the last ')', since the name may hold one itself.
  const char* close = std::strrchr(buf, ')');
  if (!close || close[1] != ' ') return true;
  const char state = close[2];
  return state != 'Z' && state != 'X' && state != 'x';
}

}  // namespace tarvo
