#pragma once
// What the end-to-end tests and the round-trip benchmark set up alike: a settings folder of
// their own, the real server registered for activation on a private bus, and the arrays of one
// serial link, one ModBus master and one register read.

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/automation/testing/PrivateBus.h"
#include "platform/variant/Variant.h"
#include "server/core/Definitions.h"
#include "server/core/app/testing/Processes.h"
#include "tools/tarvoctl/CtlArrays.h"
#include "tools/tarvoctl/CtlOptions.h"

namespace tarvo::testing {

// Set before the bus starts, so that the server it activates inherits them; no display, so the
// server runs without its window.
struct TempAppData {
  TempAppData() {
    std::string t = (std::filesystem::temp_directory_path() / "tarvo-e2e-XXXXXX").string();
    if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp");
    dir = t;
    setenv("TARVO_COMMON_APPDATA", dir.c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
  }
  ~TempAppData() { std::filesystem::remove_all(dir); }
  std::string dir;
};

// The bus of this process and its children, with the server (the program at serverPath)
// registered for activation on it.
inline void RegisterServerOn(const automation::testing::PrivateBus& bus, const std::string& serverPath) {
  bus.Export();
  std::string out;
  if (RunToEnd(serverPath, {"REGSERVER", "--dbus-dir", bus.Dir()}, &out) != 0)
    throw std::runtime_error("REGSERVER failed: " + out);
  bus.ReloadConfig();
}

inline Variant SerialLink(const std::string& pty, const std::string& baud = "9600") {
  return ctl::TransportProps(ctl::ParseCtlOptions({"--rs232", pty, "--baud", baud, "--status"}));
}

// A ModBus master for device 1, RTU, no parity, one attempt.
inline Variant ModbusMaster() {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(0), Variant(1), Variant(0), Variant(0),
                                            Variant(1), Variant(false), Variant(false)}));
}

// A one-shot read of count unsigned holding registers from addr.
inline Variant ReadHolding(int qid, int addr, int count) {
  return Variant(SafeArray::Of(VT_VARIANT, {Variant(int(mbReadHoldRegs)), Variant(qid), Variant(0),
                                            Variant(addr), Variant(int(dtUnsignedWord)),
                                            Variant(count)}));
}

}  // namespace tarvo::testing
