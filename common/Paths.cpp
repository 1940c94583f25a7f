#include "common/Paths.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace tarvo {
namespace {

std::atomic<bool> systemService{false};

std::string_view Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string_view() : std::string_view(value);
}

std::string WithoutTrailingSlash(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

std::string CommonAppData() {
  if (const std::string_view own = Env("TARVO_COMMON_APPDATA"); !own.empty()) {
    return WithoutTrailingSlash(own);
  }
  if (systemService) return "/var/lib";
  // A relative XDG_DATA_HOME is invalid and is passed over.
  if (const std::string_view xdg = Env("XDG_DATA_HOME"); xdg.starts_with('/')) {
    return WithoutTrailingSlash(xdg);
  }
  if (const std::string_view home = Env("HOME"); !home.empty()) {
    return WithoutTrailingSlash(home) + (home == "/" ? "" : "/") + ".local/share";
  }
  return {};
}

}  // namespace

void SetSystemService(bool on) {
  systemService = on;
}

std::string GetSpecialFolderPath(int folderId) {
  return folderId == CSIDL_COMMON_APPDATA ? CommonAppData() : std::string();
}

std::string GetAppDataDir() {
  const std::string base = GetSpecialFolderPath(CSIDL_COMMON_APPDATA);
  // Without a base the programs look next to where they run, as the Windows programs fell back
  // to the current drive; an empty base must not turn into the root folder.
  if (base.empty()) return "Tarvo/TarvoSrv";
  return base + (base == "/" ? "" : "/") + "Tarvo/TarvoSrv";
}

std::string GetIniFileName(bool createFolder) {
  const std::string dir = GetAppDataDir();
  if (createFolder) {
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
  }
  return dir + "/TarvoSrv.ini";
}

}  // namespace tarvo
