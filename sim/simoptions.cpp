#include "sim/simoptions.h"

#include <charconv>

namespace vx {

namespace {

bool ToNumber(std::string_view text, uint64_t& out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ToInt(std::string_view text, int lo, int hi, int& out) {
  uint64_t v = 0;
  if (!ToNumber(text, v) || v < static_cast<uint64_t>(lo) || v > static_cast<uint64_t>(hi)) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace

bool ParseSimOptions(std::span<const std::string> args, SimOptions& o, std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      inlineValue = true;
    }
    auto flag = [&]() {
      if (inlineValue) error = name + " takes no value";
      return !inlineValue;
    };
    auto next = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    auto bad = [&](const std::string& what) {
      error = name + " " + value + ": " + what;
      return false;
    };

    if (name == "--help" || name == "-h") {
      if (!flag()) return false;
      o.help = true;
    } else if (name == "--verbose" || name == "-v") {
      if (!flag()) return false;
      o.verbose = true;
    } else if (name == "--model") {
      if (!next()) return false;
      if (value.empty()) return bad("an empty file name");
      o.model = value;
    } else if (name == "--slave") {
      if (!next()) return false;
      std::vector<int> slaves;
      for (std::size_t from = 0; from <= value.size();) {
        std::size_t comma = value.find(',', from);
        if (comma == std::string::npos) comma = value.size();
        int slave = 0;
        if (!ToInt(std::string_view(value).substr(from, comma - from), 1, 247, slave))
          return bad("the slave addresses must be 1 to 247, separated by commas");
        for (int s : slaves)
          if (s == slave) return bad("slave " + std::to_string(slave) + " is given twice");
        slaves.push_back(slave);
        from = comma + 1;
      }
      o.slaves = std::move(slaves);
    } else if (name == "--version") {
      if (!next()) return false;
      if (value.empty()) return bad("an empty version text");
      o.version = value;
    } else if (name == "--pty") {
      if (!next()) return false;
      if (value.empty()) return bad("an empty path");
      o.ptyLink = value;
    } else if (name == "--serial") {
      if (!next()) return false;
      if (value.empty()) return bad("an empty device name");
      o.serialDevice = value;
    } else if (name == "--tcp") {
      if (!next()) return false;
      std::string port = value;
      if (const auto colon = value.rfind(':'); colon != std::string::npos) {
        o.tcpHost = value.substr(0, colon);
        port = value.substr(colon + 1);
        if (o.tcpHost.empty()) return bad("an empty host");
      }
      if (!ToInt(port, 0, 65535, o.tcpPort)) return bad("the port must be 0 to 65535 (0: any free port)");
      o.tcp = true;
    } else if (name == "--baud") {
      if (!next()) return false;
      if (!ToInt(value, 1, 4000000, o.baud)) return bad("not a baud rate");
    } else if (name == "--parity") {
      if (!next()) return false;
      if (value == "none" || value == "N" || value == "n") o.parity = 0;
      else if (value == "odd" || value == "O" || value == "o") o.parity = 1;
      else if (value == "even" || value == "E" || value == "e") o.parity = 2;
      else return bad("the parity must be none, odd or even");
    } else if (name == "--state") {
      if (!next()) return false;
      if (value.empty()) return bad("an empty file name");
      o.stateFile = value;
    } else if (name == "--fault") {
      if (!next()) return false;
      const auto colon = value.rfind(':');
      int bit = 0;
      if (colon == std::string::npos || colon == 0 || !ToInt(value.substr(colon + 1), 0, 31, bit))
        return bad("expected REG:BIT, a register name or number and a bit number");
      o.faults.emplace_back(value.substr(0, colon), bit);
    } else if (name == "--drop-every" || name == "--corrupt-every") {
      if (!next()) return false;
      uint64_t n = 0;
      if (!ToNumber(value, n) || n == 0) return bad("expected a count of at least 1");
      (name == "--drop-every" ? o.dropEvery : o.corruptEvery) = n;
    } else if (name == "--silent-after") {
      if (!next()) return false;
      uint64_t n = 0;
      if (!ToNumber(value, n)) return bad("expected a count of requests");
      o.silentAfter = n;
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  if (o.help) return true;
  if (o.ptyLink.empty() && o.serialDevice.empty() && !o.tcp) {
    error = "nowhere to listen: give --pty PATH, --serial DEVICE or --tcp [HOST:]PORT";
    return false;
  }
  return true;
}

std::string SimStateFileFor(const SimOptions& options, int slave) {
  if (options.stateFile.empty() || options.slaves.size() <= 1) return options.stateFile;
  return options.stateFile + "." + std::to_string(slave);
}

std::string SimUsage(const std::string& defaultModel) {
  return "Usage: vx310-sim [options]\n"
         "A VX310 drive on the wire: answers Modbus requests 0x03, 0x06, 0x10 and the\n"
         "version request 0x41 from a register image laid out by its data model, keeps its\n"
         "EEPROM in a state file and simulates the motor behind the registers.\n"
         "\n"
         "Data model and identity:\n"
         "  --model FILE          data model (.par); default " + defaultModel + "\n"
         "  --slave N[,N...]      Modbus slave address, 1..247 (default 1); several addresses\n"
         "                        serve one drive each on the same line, with its own state\n"
         "  --version TEXT        version answered to 0x41 (default VX310v220; no pattern)\n"
         "\n"
         "Where to listen (at least one; several may be combined):\n"
         "  --pty PATH            create a pseudo-terminal and a symbolic link PATH to the end\n"
         "                        that the terminal opens as its serial port (RTU)\n"
         "  --serial DEVICE       a real serial port (RTU, 8 data bits, 1 stop bit)\n"
         "  --tcp [HOST:]PORT     Modbus TCP; HOST defaults to 127.0.0.1, PORT 0 picks a free one\n"
         "  --baud N              serial baud rate (default 19200)\n"
         "  --parity none|odd|even  serial parity (default even)\n"
         "\n"
         "EEPROM:\n"
         "  --state FILE          EEPROM image: loaded at start (the RAM setup starts as a copy\n"
         "                        of it) and saved, atomically, after every write that reaches\n"
         "                        the EEPROM. Without it the EEPROM starts from the model's\n"
         "                        defaults and is lost at exit. With several slaves each drive\n"
         "                        keeps its own file, FILE.N for slave N.\n"
         "\n"
         "Fault injection (requests are counted from 1, those for the served slaves only):\n"
         "  --fault REG:BIT       set bit BIT of register REG (name or number) at start;\n"
         "                        repeatable. Present faults also enter the previous faults\n"
         "                        and are acknowledged by a new drive enable command.\n"
         "  --drop-every N        leave every Nth request unanswered (and not carried out)\n"
         "  --silent-after N      answer the first N requests, then none\n"
         "  --corrupt-every N     answer every Nth request with a bad checksum (RTU) or a bad\n"
         "                        protocol identifier (TCP)\n"
         "\n"
         "Other:\n"
         "  -v, --verbose         log every request on standard error\n"
         "  -h, --help            this text\n"
         "\n"
         "When ready it prints one line \"listening on ...\" on standard output. It ends\n"
         "cleanly on SIGINT and SIGTERM (exit status 0); bad options or files give status 2,\n"
         "and a serial port that goes away, with no other listener left, status 1.\n";
}

}  // namespace vx
