#include "sim/simoptions.h"

#include <charconv>

#include "mbwire/mbcodes.h"

namespace vx {

namespace {

bool ToNumber(std::string_view text, uint64_t& out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ToInt(std::string_view text, int lo, int hi, int& out) {
  uint64_t v = 0;
  if (!ToNumber(text, v) || v < static_cast<uint64_t>(lo) || v > static_cast<uint64_t>(hi))
    return false;
  out = static_cast<int>(v);
  return true;
}

// One command-line argument, with the value of an option that takes one: inline
// ("--slave=3") or the next argument.
struct OptionArg {
  std::span<const std::string> args;
  std::size_t& i;
  std::string& error;
  std::string name;
  std::string value;
  bool inlineValue = false;

  // An option without a value.
  bool Flag() {
    if (inlineValue) error = name + " takes no value";
    return !inlineValue;
  }
  bool Next() {
    if (inlineValue) return true;
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return false;
    }
    value = args[++i];
    return true;
  }
  bool Bad(const std::string& what) {
    error = name + " " + value + ": " + what;
    return false;
  }
};

// Takes one option into `o`; false with `arg.error` set when it is unknown or wrong.
bool ApplyOption(OptionArg& arg, SimOptions& o, std::string& error) {
  if (arg.name == "--help" || arg.name == "-h") {
    if (!arg.Flag()) return false;
    o.help = true;
  } else if (arg.name == "--verbose" || arg.name == "-v") {
    if (!arg.Flag()) return false;
    o.verbose = true;
  } else if (arg.name == "--model") {
    if (!arg.Next()) return false;
    if (arg.value.empty()) return arg.Bad("an empty file name");
    o.model = arg.value;
  } else if (arg.name == "--slave") {
    if (!arg.Next()) return false;
    std::vector<int> slaves;
    const std::string& value = arg.value;
    for (std::size_t from = 0; from <= value.size();) {
      std::size_t comma = value.find(',', from);
      if (comma == std::string::npos) comma = value.size();
      int slave = 0;
      if (!ToInt(std::string_view(value).substr(from, comma - from), 1, 247, slave))
        return arg.Bad("the slave addresses must be 1 to 247, separated by commas");
      for (int s : slaves)
        if (s == slave) return arg.Bad("slave " + std::to_string(slave) + " is given twice");
      slaves.push_back(slave);
      from = comma + 1;
    }
    o.slaves = std::move(slaves);
  } else if (arg.name == "--version") {
    if (!arg.Next()) return false;
    if (arg.value.empty()) return arg.Bad("an empty version text");
    o.version = arg.value;
  } else if (arg.name == "--pty") {
    if (!arg.Next()) return false;
    if (arg.value.empty()) return arg.Bad("an empty path");
    o.ptyLink = arg.value;
  } else if (arg.name == "--serial") {
    if (!arg.Next()) return false;
    if (arg.value.empty()) return arg.Bad("an empty device name");
    o.serialDevice = arg.value;
  } else if (arg.name == "--tcp") {
    if (!arg.Next()) return false;
    std::string port = arg.value;
    if (const auto colon = arg.value.rfind(':'); colon != std::string::npos) {
      o.tcpHost = arg.value.substr(0, colon);
      port = arg.value.substr(colon + 1);
      if (o.tcpHost.empty()) return arg.Bad("an empty host");
    }
    if (!ToInt(port, 0, 65535, o.tcpPort))
      return arg.Bad("the port must be 0 to 65535 (0: any free port)");
    o.tcp = true;
  } else if (arg.name == "--baud") {
    if (!arg.Next()) return false;
    if (!ToInt(arg.value, 1, 4000000, o.baud)) return arg.Bad("not a baud rate");
  } else if (arg.name == "--parity") {
    if (!arg.Next()) return false;
    if (arg.value == "none" || arg.value == "N" || arg.value == "n")
      o.parity = MBParity::kNone;
    else if (arg.value == "odd" || arg.value == "O" || arg.value == "o")
      o.parity = MBParity::kOdd;
    else if (arg.value == "even" || arg.value == "E" || arg.value == "e")
      o.parity = MBParity::kEven;
    else
      return arg.Bad("the parity must be none, odd or even");
  } else if (arg.name == "--line") {
    if (!arg.Next()) return false;
    SimLineFormat format;
    std::string why;
    if (!ParseSimLineFormat(arg.value, format, why)) return arg.Bad(why);
    o.line = format;
  } else if (arg.name == "--turnaround") {
    if (!arg.Next()) return false;
    double ms = -1.0;
    const auto [end, ec] =
        std::from_chars(arg.value.data(), arg.value.data() + arg.value.size(), ms);
    if (arg.value.empty() || ec != std::errc() || end != arg.value.data() + arg.value.size() ||
        !(ms >= 0.0 && ms <= 10000.0))
      return arg.Bad("expected milliseconds, 0 to 10000 (such as 2 or 1.75)");
    o.turnaroundMs = ms;
  } else if (arg.name == "--strict-gaps") {
    if (!arg.Flag()) return false;
    o.strictGaps = true;
  } else if (arg.name == "--state") {
    if (!arg.Next()) return false;
    if (arg.value.empty()) return arg.Bad("an empty file name");
    o.stateFile = arg.value;
  } else if (arg.name == "--fault") {
    if (!arg.Next()) return false;
    const auto colon = arg.value.rfind(':');
    int bit = 0;
    if (colon == std::string::npos || colon == 0 || !ToInt(arg.value.substr(colon + 1), 0, 31, bit))
      return arg.Bad("expected REG:BIT, a register name or number and a bit number");
    o.faults.emplace_back(arg.value.substr(0, colon), bit);
  } else if (arg.name == "--drop-every" || arg.name == "--corrupt-every") {
    if (!arg.Next()) return false;
    uint64_t n = 0;
    if (!ToNumber(arg.value, n) || n == 0) return arg.Bad("expected a count of at least 1");
    (arg.name == "--drop-every" ? o.dropEvery : o.corruptEvery) = n;
  } else if (arg.name == "--silent-after") {
    if (!arg.Next()) return false;
    uint64_t n = 0;
    if (!ToNumber(arg.value, n)) return arg.Bad("expected a count of requests");
    o.silentAfter = n;
  } else {
    error = "unknown option " + arg.name;
    return false;
  }
  return true;
}

}  // namespace

bool ParseSimOptions(std::span<const std::string> args, SimOptions& o, std::string& error) {
  bool baudOrParity = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    OptionArg arg{args, i, error, args[i], {}, false};
    if (const auto eq = arg.name.find('=');
        arg.name.rfind("--", 0) == 0 && eq != std::string::npos) {
      arg.value = arg.name.substr(eq + 1);
      arg.name = arg.name.substr(0, eq);
      arg.inlineValue = true;
    }
    if (!ApplyOption(arg, o, error)) return false;
    baudOrParity = baudOrParity || arg.name == "--baud" || arg.name == "--parity";
  }
  if (o.help) return true;
  if (o.line && baudOrParity) {
    error = "--line gives the baud rate and parity: leave out --baud and --parity";
    return false;
  }
  if (!o.line && (o.turnaroundMs || o.strictGaps)) {
    error = std::string(o.turnaroundMs ? "--turnaround" : "--strict-gaps") +
            " times a paced line: give --line BAUD,FORMAT too";
    return false;
  }
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
         "  --model FILE          data model (.par); default " +
         defaultModel +
         "\n"
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
         "Serial timing (--pty and --serial; without --line bytes take no time):\n"
         "  --line BAUD,FORMAT    a paced line, such as 19200,8E1 (data bits 7 or 8; parity\n"
         "                        N, O, E, M or S; stop bits 1, 1.5 or 2); in place of --baud\n"
         "                        and --parity. A request counts as received when its last\n"
         "                        character would have arrived on the wire; the answer goes\n"
         "                        out a character at a time at the line's character time.\n"
         "  --turnaround MS       from the end of a request to the start of its answer\n"
         "                        (default 3.5 characters)\n"
         "  --strict-gaps         drop a request with a gap longer than 1.5 characters between\n"
         "                        two of its characters (0.75 ms above 19200 baud), as a real\n"
         "                        slave does\n"
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
