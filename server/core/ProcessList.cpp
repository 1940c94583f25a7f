#include "server/core/ProcessList.h"

#include <dirent.h>

#include <cctype>
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

std::vector<std::uint32_t> RunningProcessIDs() {
  std::vector<std::uint32_t> ids;
  DIR* dir = opendir("/proc");
  if (!dir) return ids;
  while (dirent* e = readdir(dir)) {
    const char* name = e->d_name;
    if (!*name || !std::isdigit(static_cast<unsigned char>(*name))) continue;
    char* end = nullptr;
    const unsigned long pid = std::strtoul(name, &end, 10);
    if (*end == '\0' && pid > 0 && pid <= UINT32_MAX) ids.push_back(static_cast<std::uint32_t>(pid));
  }
  closedir(dir);
  return ids;
}

}  // namespace tarvo
