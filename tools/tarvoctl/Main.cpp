// tarvoctl: a command-line client of the communication server. It opens a link through the
// server, makes one request once or with a period, and prints every reply as a line of text or
// of JSON, until it has the replies it was asked for or is interrupted.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <iostream>
#include <mutex>
#include <thread>

#include "platform/automation/Client.h"
#include "server/core/Definitions.h"
#include "server/core/ReplyArray.h"
#include "server/typelib/AnyProxies.h"
#include "tools/tarvoctl/CtlArrays.h"
#include "tools/tarvoctl/CtlFormat.h"
#include "tools/tarvoctl/CtlOptions.h"

namespace {

using namespace tarvo;

constexpr char kClientUsage[] =
    "\nServer and bus:\n"
    "  --bus ADDRESS        the bus at this D-Bus address (default: $TARVO_BUS, else the session\n"
    "                       bus; TARVO_BUS may also be \"session\" or \"system\")\n"
    "  --system             the system bus\n"
    "  --host [USER@]HOST   the system bus of another machine, reached over SSH\n"
    "  --register-process   register this process with the server, which then also drops the\n"
    "                       link when the process is gone without a word\n"
    "  --verbose            report link states on standard error\n"
    "\nExit status: 0 every reply had result 0; 1 some reply had another result; 2 bad\n"
    "arguments; 3 the server or the link failed; 4 no reply in time; 130 interrupted.\n";

struct Event {
  enum Kind { State, Reply, Interrupt } kind;
  std::int32_t newState = 0, id = kNoID;
  Variant reply;
};

class Events {
 public:
  void Push(Event e) {
    {
      std::lock_guard l(lock_);
      q_.push_back(std::move(e));
    }
    cv_.notify_all();
  }
  // False on time-out (timeoutMs < 0: no limit).
  bool Pop(Event& e, std::int32_t timeoutMs) {
    std::unique_lock l(lock_);
    auto ready = [this] { return !q_.empty(); };
    if (timeoutMs < 0) cv_.wait(l, ready);
    else if (!cv_.wait_for(l, std::chrono::milliseconds(timeoutMs), ready)) return false;
    e = std::move(q_.front());
    q_.pop_front();
    return true;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::deque<Event> q_;
};

struct ClientOptions {
  automation::BusSpec bus = automation::BusSpec::FromEnvironment();
  bool registerProcess = false, verbose = false;
};

// Takes the options of the bus and the server out of args.
ClientOptions TakeClientOptions(std::vector<std::string>& args) {
  ClientOptions c;
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) throw ctl::CtlUsageError(a + " needs a value");
      return args[++i];
    };
    if (a == "--bus") c.bus = automation::BusSpec::Parse(value());
    else if (a == "--system") c.bus = automation::BusSpec::Parse("system");
    else if (a == "--host") c.bus = automation::BusSpec::Remote(value());
    else if (a == "--register-process") c.registerProcess = true;
    else if (a == "--verbose") c.verbose = true;
    else rest.push_back(a);
  }
  args = std::move(rest);
  return c;
}

int Run(const ctl::CtlOptions& o, const ClientOptions& c, Events& events) {
  auto client = automation::AutomationClient::Connect(c.bus);
  typelib::AnyTransportProxy tr(*client, [&events](std::int32_t, std::int32_t s, std::int32_t id) {
    events.Push({Event::State, s, id, {}});
  });
  if (c.registerProcess) tr.RegisterProcess(static_cast<std::uint32_t>(getpid()));
  tr.SetProps(ctl::TransportProps(o));
  tr.SetConnected(true);
  std::int32_t id = kNoID;
  Event e{Event::State, 0, kNoID, {}};
  while (id == kNoID) {
    if (!events.Pop(e, 60000)) {
      std::cerr << "tarvoctl: the server did not report the link's state\n";
      return 3;
    }
    if (e.kind == Event::Interrupt) return 130;
    if (e.kind != Event::State) continue;
    if (c.verbose) std::cerr << "tarvoctl: link state " << e.newState << ", ID " << e.id << "\n";
    if (e.newState == stOpen) id = e.id;
    else if (e.newState == stClosed) {
      std::cerr << "tarvoctl: the server could not open the link " << o.serial.port << "\n";
      return 3;
    }
  }

  typelib::AnyMasterProxy master(*client, [&events](const Variant& reply) {
    events.Push({Event::Reply, 0, kNoID, reply});
  });
  if (c.registerProcess) master.RegisterProcess(static_cast<std::uint32_t>(getpid()));
  master.SetProps(ctl::MasterProps(o));
  master.SetTransportID(id);
  master.AddTask(ctl::RequestArray(o));

  int rc = 0;
  for (std::int32_t got = 0; o.countReplies == 0 || got < o.countReplies;) {
    if (!events.Pop(e, o.timeoutMs)) {
      std::cerr << "tarvoctl: no reply within " << o.timeoutMs << " ms\n";
      rc = 4;
      break;
    }
    if (e.kind == Event::Interrupt) {
      rc = 130;
      break;
    }
    if (e.kind == Event::State) {
      if (c.verbose) std::cerr << "tarvoctl: link state " << e.newState << "\n";
      if (e.newState == stClosed) {
        std::cerr << "tarvoctl: the link closed\n";
        rc = 3;
        break;
      }
      continue;
    }
    std::cout << (o.json ? ctl::FormatReplyJson(e.reply) : ctl::FormatReplyText(e.reply)) << std::endl;
    ++got;
    try {
      if (e.reply.Array().At(riResult).ToInt32() != mbcOK && rc == 0) rc = 1;
    } catch (const std::exception&) {
      rc = 1;
    }
  }
  // Letting go: the objects' release does the same, so a server that has gone meanwhile is
  // not worth an error.
  try {
    if (o.periodMs > 0) master.FreeTask(o.qid);
    tr.SetConnected(false);
  } catch (const automation::RemoteError& e) {
    if (rc == 0) std::cerr << "tarvoctl: " << e.what() << "\n";
  }
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  ClientOptions client;
  ctl::CtlOptions o;
  try {
    client = TakeClientOptions(args);
    o = ctl::ParseCtlOptions(args);
  } catch (const std::exception& e) {
    std::cerr << "tarvoctl: " << e.what() << "\n(see tarvoctl --help)\n";
    return 2;
  }
  if (o.help) {
    std::cout << ctl::CtlUsageText() << kClientUsage;
    return 0;
  }
  // Ctrl-C and SIGTERM end the run cleanly: the request is stopped and the link let go.
  sigset_t sigs;
  sigemptyset(&sigs);
  sigaddset(&sigs, SIGINT);
  sigaddset(&sigs, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
  Events events;
  std::thread([&sigs, &events] {
    int sig = 0;
    if (sigwait(&sigs, &sig) == 0) events.Push({Event::Interrupt, 0, kNoID, {}});
  }).detach();
  try {
    return Run(o, client, events);
  } catch (const automation::RemoteError& e) {
    std::cerr << "tarvoctl: " << e.what() << " (" << e.name() << ")\n";
  } catch (const std::exception& e) {
    std::cerr << "tarvoctl: " << e.what() << "\n";
  }
  return 3;
}
