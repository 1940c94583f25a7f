#pragma once

#include <string>

namespace tarvo {

inline constexpr int CSIDL_COMMON_APPDATA = 0x0023;  // the only folder id the programs use

// When the server runs as the system bus service, its data live under /var/lib.
void SetSystemService(bool on);

// The common application data folder: $TARVO_COMMON_APPDATA when set, else /var/lib for the
// system service, else $XDG_DATA_HOME when absolute, else $HOME/.local/share. Without a
// trailing slash; "" when it cannot be told or for any other folder id.
std::string GetSpecialFolderPath(int folderId);

// <common application data>/Tarvo/TarvoSrv
std::string GetAppDataDir();

// GetAppDataDir() + "/TarvoSrv.ini". With createFolder the folder and its missing parents are
// made first; if that fails the name is still returned, so reads give defaults and a write
// reports the error.
std::string GetIniFileName(bool createFolder);

}  // namespace tarvo
