// tarvo-devsim: a simulated metering instrument on a serial line.

#include <csignal>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>

#include "tools/devsim/MapFile.h"
#include "tools/devsim/Options.h"
#include "tools/devsim/SerialLink.h"
#include "tools/devsim/Server.h"
#include "tools/devsim/Slave.h"
#include "tools/devsim/SymlinkGuard.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void OnSignal(int) { gStop = 1; }

void InstallHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: poll must wake up
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tarvo::devsim;
  try {
    Options options = ParseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (options.help) {
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    }
    DeviceMap map = options.mapFile.empty() ? DefaultMap() : LoadMapFile(options.mapFile);
    Slave slave(std::move(map), options.address);
    slave.ForceException(options.faults.exception);
    InstallHandlers();
    std::optional<SerialLink> link;
    std::unique_ptr<SymlinkGuard> symlink;
    if (options.device.empty()) {
      link.emplace(SerialLink::CreatePty());
      if (!options.link.empty())
        symlink = std::make_unique<SymlinkGuard>(options.link, link->SlavePath());
      std::printf("PTY %s\n", link->SlavePath().c_str());
      std::fflush(stdout);
    } else {
      link.emplace(SerialLink::OpenDevice(options.device, options.baud));
    }
    Server server(options, link->Fd(), slave);
    server.Run(gStop);
    return 0;
  } catch (const OptionError& e) {
    std::fprintf(stderr, "tarvo-devsim: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarvo-devsim: %s\n", e.what());
    return 1;
  }
}
