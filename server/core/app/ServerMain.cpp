// TarvoSrv: the communication server program. It serves the automation classes on the session
// bus (or the system bus with --system), with a hidden window and a tray icon when a display is
// there and without any window otherwise.

#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QMetaObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <sdbus-c++/Error.h>
#include <string>
#include <thread>

#include "common/Paths.h"
#include "platform/automation/Server.h"
#include "server/core/AnyObjects.h"
#include "server/core/LogKeeper.h"
#include "server/core/ProcessList.h"
#include "server/core/ServerSettings.h"
#include "server/typelib/TypeLib.h"
#include "server/core/app/Registration.h"
#include "server/core/app/TypeLibXml.h"
#include "server/core/app/WorkerMaker.h"
#include "server/core/app/gui/ServerForm.h"
#include "server/core/app/gui/ServerView.h"

namespace {

using namespace tarvo;

constexpr char kUsage[] =
    "Usage: TarvoSrv [REGSERVER | UNREGSERVER | AUTOMATION | EMBEDDING] [options]\n"
    "\n"
    "The communication server: owns the serial lines and runs the ModBus masters for its\n"
    "clients, which reach it over D-Bus as the service org.tarvo.TarvoSrv.\n"
    "\n"
    "  REGSERVER      install the activation file and the type library for the bus, then exit\n"
    "  UNREGSERVER    remove them, then exit\n"
    "  AUTOMATION     started by the bus for a client: exit after the last object is released\n"
    "  EMBEDDING      the same as AUTOMATION\n"
    "  --system       serve the system bus (as a system service); default: the session bus\n"
    "  --bus ADDRESS  serve the bus at this D-Bus address instead\n"
    "  --dbus-dir DIR with REGSERVER/UNREGSERVER: the D-Bus data folder to register in\n"
    "                 (default $XDG_DATA_HOME/dbus-1, or /usr/share/dbus-1 with --system)\n"
    "  --no-gui       no window and no tray icon (also when there is no display)\n"
    "  -h, --help     this text\n"
    "\n"
    "Settings: TarvoSrv.ini in the server's data folder (Optora edits it); logs in its Logs\n"
    "folder. Ctrl-C or SIGTERM stops the server as its \"Выход\" command does.\n";

struct Options {
  bool reg = false, unreg = false, automation = false, system = false, noGui = false;
  std::string bus, dbusDir;
};

bool Switch(std::string a, const char* name) {
  while (!a.empty() && (a[0] == '-' || a[0] == '/')) a.erase(0, 1);
  return strcasecmp(a.c_str(), name) == 0;
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* what) {
      if (i + 1 >= argc) throw std::runtime_error(a + " needs " + what);
      return std::string(argv[++i]);
    };
    if (a == "-h" || a == "--help") {
      std::cout << kUsage;
      std::exit(0);
    } else if (a == "--system") {
      o.system = true;
    } else if (a == "--no-gui") {
      o.noGui = true;
    } else if (a == "--bus") {
      o.bus = value("an address");
    } else if (a == "--dbus-dir") {
      o.dbusDir = value("a folder");
    } else if (Switch(a, "REGSERVER")) {
      o.reg = true;
    } else if (Switch(a, "UNREGSERVER")) {
      o.unreg = true;
    } else if (Switch(a, "AUTOMATION") || Switch(a, "EMBEDDING")) {
      o.automation = true;
    } else {
      throw std::runtime_error("unknown argument \"" + a + "\" (see --help)");
    }
  }
  if (o.reg && o.unreg) throw std::runtime_error("REGSERVER and UNREGSERVER exclude each other");
  return o;
}

std::string ExePath(const char* argv0) {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::absolute(argv0).string() : p.string();
}

int Register(const Options& o, const char* argv0) {
  const TRegistration files = RegistrationFiles(o.system, o.dbusDir);
  const char* bus = o.system ? "the system bus" : "the session bus";
  try {
    const auto done = o.reg ? RegisterServer(files, o.system, ExePath(argv0), kTypeLibXml)
                            : UnregisterServer(files);
    std::cout << "TarvoSrv " << (o.reg ? "registered for " : "unregistered from ") << bus << ":\n";
    for (const std::string& line : done) std::cout << "  " << line << "\n";
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "TarvoSrv: " << e.what() << "\n";
    return 1;
  }
}

// The window's view of the live workers.
class TFactoryView : public IServerView {
 public:
  explicit TFactoryView(TServerFactory& f) : FFactory(f) {}
  std::vector<std::string> TransportNames() override {
    std::vector<std::string> names;
    for (int i = 0, n = FFactory.GetTransportCount(); i < n; ++i)
      if (auto tr = FFactory.GetTransportByIndex(i))
        names.push_back(TransportClassName(tr->GetTransportType()));
    return names;
  }
  std::vector<std::string> MasterNames() override {
    return std::vector<std::string>(FFactory.MasterCount(), "TModBusMaster");
  }

 private:
  TServerFactory& FFactory;
};

std::vector<std::string> SplitTabs(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  std::vector<std::string> cols;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    cols.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
    if (tab == std::string::npos) return cols;
    start = tab + 1;
  }
}

// What ends the server: "Выход", a signal, or the last object released when the bus started it.
class TQuit {
 public:
  void Request() {
    std::lock_guard l(FLock);
    FQuit = true;
    FWake.notify_all();
    // Under the lock, so the application cannot go away between the test and the call.
    if (FGui) QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  }
  // While the window's event loop may run.
  void SetGui(bool on) {
    std::lock_guard l(FLock);
    FGui = on;
  }
  bool Requested() {
    std::lock_guard l(FLock);
    return FQuit;
  }
  void WaitHeadless() {
    std::unique_lock l(FLock);
    FWake.wait(l, [this] { return FQuit; });
  }
 private:
  bool FGui = false;
  std::mutex FLock;
  std::condition_variable FWake;
  bool FQuit = false;
};

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void LowerMainThread() {
  // Linux keeps a nice value per thread: only the main thread (window and message loop) goes
  // to the lowest level, so the workers' threads always come first.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 19);
}

int Serve(const Options& o, int argc, char** argv) {
  if (o.system) SetSystemService(true);
  // Signals are taken by one thread with sigtimedwait; every thread started from here on
  // inherits the mask.
  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGINT);
  sigaddset(&sigs, SIGTERM);
  sigaddset(&sigs, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

  const std::string ini = GetIniFileName(true);
  const TServerSettings settings = ReadServerSettings(ini);
  if (settings.HighPriority && setpriority(PRIO_PROCESS, 0, -10) != 0)
    std::cerr << "TarvoSrv: HighPriority is set but the system refused a higher priority ("
              << std::strerror(errno) << ")\n";

  TQuit quit;
  // The server while it serves; the signal thread also watches its object count.
  std::mutex liveLock;
  automation::AutomationServer* live = nullptr;
  std::atomic<bool> signalsStop{false};
  // Kept by the server's object-count listener: objects can come and go between two looks.
  std::atomic<bool> hadObjects{false};
  std::atomic<std::int64_t> zeroSinceMs{NowMs()};
  std::thread signalThread([&] {
    const timespec step{0, 200'000'000};
    // Started by the bus for a client: end once no client holds an object. A second's grace
    // lets a client that releases one object and creates the next keep this server; a server
    // that nobody uses at all ends after half a minute.
    while (!signalsStop) {
      if (sigtimedwait(&sigs, nullptr, &step) > 0) quit.Request();
      if (!o.automation) continue;
      std::lock_guard l(liveLock);
      if (!live || live->ObjectCount() != 0) continue;
      const std::int64_t since = zeroSinceMs.load();
      if (since != 0 && NowMs() - since >= (hadObjects ? 1000 : 30000)) quit.Request();
    }
  });

  int rc = 0;
  {
    TServerWorkerMaker maker(settings.TenBitsForAll);
    TServerFactory factory(maker, IsProcessRunning);
    factory.StartClientsTimer(1000);
    {
      auto keeper = std::make_unique<TLogKeeper>(LogKeeperOptionsFrom(ini, GetLogDir()));
      std::unique_ptr<sdbus::IConnection> conn;
      try {
        if (!o.bus.empty()) conn = sdbus::createSessionBusConnectionWithAddress(o.bus);
        else if (const char* starter = std::getenv("DBUS_STARTER_ADDRESS"); starter && o.automation)
          conn = sdbus::createSessionBusConnectionWithAddress(starter);
        else if (o.system) conn = sdbus::createSystemBusConnection();
        else conn = sdbus::createSessionBusConnection();
      } catch (const sdbus::Error& e) {
        std::cerr << "TarvoSrv: cannot reach the bus: " << e.getMessage() << "\n";
        rc = 1;
      }
      std::unique_ptr<automation::AutomationServer> server;
      if (conn) {
        server = std::make_unique<automation::AutomationServer>(std::move(conn));
        RegisterAnyClasses(*server, factory);
        server->OnObjectCount([&](std::size_t n) {
          if (n != 0) hadObjects = true;
          zeroSinceMs = n == 0 ? NowMs() : 0;
        });
        try {
          server->Start();
        } catch (const sdbus::Error& e) {
          std::cerr << "TarvoSrv: cannot serve " << automation::kServiceName << ": "
                    << e.getMessage() << "\n";
          server.reset();
          rc = 1;
        }
      }
      if (server) {
        {
          std::lock_guard l(liveLock);
          live = server.get();
        }
        LogAction(std::string("Сервер обслуживает ") + automation::kServiceName + " (" +
                  server->UniqueName() + ")");
        const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ||
                             std::getenv("QT_QPA_PLATFORM");
        LowerMainThread();
        if (!o.noGui && display) {
          QApplication app(argc, argv);
          QApplication::setApplicationName("Tarvo Server");
          QApplication::setQuitOnLastWindowClosed(false);
          TFactoryView view(factory);
          TServerForm form(&view);
          QObject::connect(&form, &TServerForm::exitRequested, [] { QCoreApplication::quit(); });
          std::atomic<std::uint64_t> row{0};
          keeper->SetObserver([&form, &row](const TBaseLogTask& t) {
            std::vector<std::string> cols = SplitTabs(TLogKeeper::FormatLine(t));
            const std::string n = std::to_string(++row);
            if (t.FTaskType == ltTransportData && cols.size() >= 5) {
              form.PostIORow({n, cols[0], cols[1], cols[2], cols[3], cols[4]});
            } else if (t.FTaskType == ltSimple && cols.size() >= 2) {
              form.PostActionRow({n, cols[0], cols[1], ""});
            }
          });
          quit.SetGui(true);
          if (!quit.Requested()) app.exec();
          keeper->SetObserver(nullptr);
          quit.SetGui(false);
        } else {
          quit.WaitHeadless();
        }
        {
          std::lock_guard l(liveLock);
          live = nullptr;
        }
        server->Stop();  // releases every object: links and masters go back to the factory
        server.reset();
      }
      factory.WaitIdle(10000);
      WriteLogKeeperSettings(ini, *keeper);
      keeper.reset();  // the closing line, then everything queued
    }
    factory.StopClientsTimer();
  }
  signalsStop = true;
  signalThread.join();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  try {
    o = Parse(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "TarvoSrv: " << e.what() << "\n";
    return 2;
  }
  if (o.reg || o.unreg) return Register(o, argv[0]);
  return Serve(o, argc, argv);
}
