#include "tools/devsim/Options.h"

#include <charconv>

#include "tools/devsim/MapFile.h"

namespace tarvo::devsim {

namespace {

int IntIn(const std::string& option, const std::string& text, long lo, long hi) {
  long v = 0;
  int base = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
  const char* b = text.data() + (base == 16 ? 2 : 0);
  auto [p, ec] = std::from_chars(b, text.data() + text.size(), v, base);
  if (text.empty() || ec != std::errc() || p != text.data() + text.size() || v < lo || v > hi)
    throw OptionError(option + " wants a number in " + std::to_string(lo) + ".." +
                      std::to_string(hi) + ", not '" + text + "'");
  return static_cast<int>(v);
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t k = 0; k < args.size(); ++k) {
    const std::string& a = args[k];
    auto value = [&]() -> const std::string& {
      if (k + 1 >= args.size()) throw OptionError(a + " wants a value");
      return args[++k];
    };
    if (a == "--help" || a == "-h") o.help = true;
    else if (a == "--verbose" || a == "-v") o.verbose = true;
    else if (a == "--mode") {
      const std::string& m = value();
      if (m == "rtu") o.mode = mmRTU;
      else if (m == "ascii") o.mode = mmASCII;
      else throw OptionError("--mode wants rtu or ascii, not '" + m + "'");
    } else if (a == "--addr") o.address = static_cast<std::uint8_t>(IntIn(a, value(), 1, 247));
    else if (a == "--link") o.link = value();
    else if (a == "--device") o.device = value();
    else if (a == "--baud") o.baud = IntIn(a, value(), 50, 4000000);
    else if (a == "--map") o.mapFile = value();
    else if (a == "--exit-after-ms") o.exitAfterMs = IntIn(a, value(), 1, 1 << 30);
    else if (a == "--silent") o.faults.silent = true;
    else if (a == "--bad-checksum") o.faults.badChecksum = true;
    else if (a == "--wrong-addr") o.faults.wrongAddr = true;
    else if (a == "--exception")
      o.faults.exception = static_cast<std::uint8_t>(IntIn(a, value(), 1, 255));
    else if (a == "--split-pause") o.faults.splitPauseMs = IntIn(a, value(), 0, 60000);
    else if (a == "--garbage") o.faults.garbage = IntIn(a, value(), 0, 512);
    else if (a == "--delay") o.faults.delayMs = IntIn(a, value(), 0, 60000);
    else throw OptionError("unknown option '" + a + "' (see --help)");
  }
  if (!o.device.empty() && !o.link.empty())
    throw OptionError("--link names a pseudo-terminal; it does not go with --device");
  return o;
}

std::string HelpText() {
  std::string text =
      "Usage: tarvo-devsim [options]\n"
      "A simulated metering instrument: a ModBus slave on a serial line.\n"
      "\n"
      "Link:\n"
      "  (default)            create a pseudo-terminal, print 'PTY <slave path>', serve it\n"
      "  --link PATH          also make PATH a symbolic link to it (replaced; removed at exit)\n"
      "  --device PATH        serve an existing serial device instead (raw, 8N1)\n"
      "  --baud N             its speed (default 9600)\n"
      "  --exit-after-ms N    stop by itself after N ms (otherwise at SIGINT/SIGTERM)\n"
      "\n"
      "Protocol:\n"
      "  --mode rtu|ascii     framing (default rtu)\n"
      "  --addr N             slave address 1..247 (default 1); address 0 is a broadcast:\n"
      "                       writes act, nothing answers\n"
      "  --map FILE           device map (default: the built-in map below)\n"
      "  Functions: 1 2 3 4 5 6 7 8 (sub-functions 0 echo, 1 restart, 11..14 counters) 15 16\n"
      "  17 (device name) 65 (archive read by time or by index). Exceptions: 1 unknown\n"
      "  function, 2 address outside the map or read-only, 3 bad count or value.\n"
      "\n"
      "Faults (they combine):\n"
      "  --silent             never answer\n"
      "  --bad-checksum       corrupt the CRC/LRC of every answer\n"
      "  --wrong-addr         answer from address + 1\n"
      "  --exception CODE     answer every request with exception CODE\n"
      "  --split-pause MS     write half of each answer, pause MS, then the rest\n"
      "  --garbage N          N random bytes before each answer\n"
      "  --delay MS           wait MS before answering\n"
      "\n"
      "Other:\n"
      "  --verbose            log each request and answer in hex to stderr\n"
      "  --help               this text\n"
      "\n";
  text += kMapFormatHelp;
  text += "\nBuilt-in map:\n";
  std::string defaults = kDefaultMapText;
  std::size_t pos = 0;
  while (pos < defaults.size()) {
    std::size_t end = defaults.find('\n', pos);
    text += "  " + defaults.substr(pos, end - pos + 1);
    pos = end + 1;
  }
  return text;
}

}  // namespace tarvo::devsim
