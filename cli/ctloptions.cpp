#include "cli/ctloptions.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace vx {

namespace {

bool ToInt(std::string_view text, int lo, int hi, int& out) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || v < lo || v > hi)
    return false;
  out = v;
  return true;
}

bool IsCommand(const std::string& word) {
  return std::find(std::begin(kCtlCommands), std::end(kCtlCommands), word) !=
         std::end(kCtlCommands);
}

const char* const kExitCodes =
    "Exit codes:\n"
    "  0  done\n"
    "  1  compare found differences\n"
    "  2  bad usage or bad input file\n"
    "  3  no answer from the drive, or the line failed\n"
    "  4  no data model for the drive\n";

const char* const kCommonOptions =
    "Common options:\n"
    "  --port PORT       COM1..COM8 (mapped by section \"Ports\" of VX310_ConfigTerm.ini in\n"
    "                    the current folder, as the terminal does), a device path such as\n"
    "                    /dev/ttyUSB0, or tcp:HOST:PORT for Modbus TCP (default COM1)\n"
    "  --slave N         slave address 1..247 (default 1)\n"
    "  --baud N          serial baud rate (default 19200)\n"
    "  --parity P        none, odd, even, mark or space (default even)\n"
    "  --models DIR      folder of the data models (*.par); default the current folder\n"
    "  --timeout MS      answer time-out of one request (default 500)\n"
    "  --json            one JSON document on standard output, for scripts\n"
    "  --quiet           no progress and no notes on standard error\n"
    "  --verbose         the connection's and the drive's states on standard error\n";

struct CommandHelp {
  const char* Name;
  const char* Synopsis;
  const char* Text;
  const char* Example;
};

const CommandHelp kHelp[] = {
    {"scan", "scan [--slaves FIRST-LAST]",
     "Asks every address of the range (default 1-32) for its version and lists each drive\n"
     "that answers: address, version, description and data-model file. Addresses that do\n"
     "not answer cost one time-out each, so a short --timeout speeds the scan up.\n",
     "vx310ctl scan --port /dev/ttyUSB0 --slaves 1-8 --timeout 100"},
    {"identify", "identify",
     "Identifies one drive: its version, the description of its data model and the\n"
     "data-model file that serves it.\n",
     "vx310ctl identify --port COM2 --slave 3"},
    {"state", "state [--watch] [--interval MS]",
     "Shows the drive's hardware data and actual state as name, value and unit. With\n"
     "--watch it repeats every cycle (or every --interval MS) until interrupted, one line\n"
     "per sample with its time, for logging.\n",
     "vx310ctl state --port tcp:192.168.1.20:502 --watch --interval 1000 >> drive.log"},
    {"faults", "faults",
     "Lists the present and the previous faults with their texts (\"- NO ERROR -\" when\n"
     "there is none).\n",
     "vx310ctl faults --slave 2"},
    {"get", "get NAME...",
     "Shows parameters by their names in the data model (ParMotorIrA, CfgRefSource, ...)\n"
     "as the setup window shows them. --verbose adds description, limits and choices.\n",
     "vx310ctl get ParMotorIrA ParMotorAccel CfgRefSource"},
    {"set", "set NAME=VALUE... [--save]",
     "Sets parameters as the setup window does and sends them to the drive. A value that is\n"
     "not a number, lies outside the limits or is not one of the choices is refused with\n"
     "the reason, and then nothing is written. --save stores the setup in the drive's\n"
     "EEPROM after the write.\n",
     "vx310ctl set ParMotorIrA=2.5 \"CfgRefSource=Field bus\" --save"},
    {"backup", "backup --out FILE",
     "Reads the drive's setup and writes it to a setup file (*.310) that the terminal's\n"
     "\"From File ...\" imports.\n",
     "vx310ctl backup --slave 1 --out axis1.310"},
    {"restore", "restore --in FILE [--save]",
     "Imports a setup file and sends it to the drive; --save stores it in the drive's\n"
     "EEPROM. The import report (values taken, excluded, unknown) goes to standard error.\n",
     "vx310ctl restore --slave 1 --in axis1.310 --save"},
    {"compare", "compare --in FILE",
     "Reads the drive's setup and lists every parameter whose value differs from the\n"
     "setup file: name, drive value, file value. Exits with 1 when anything differs.\n",
     "vx310ctl compare --slave 1 --in axis1.310 || echo \"axis 1 has been changed\""},
    {"sniff", "sniff [--count N]",
     "Listens on a serial line without sending anything and prints the traffic of the\n"
     "master and slaves on it, exchange by exchange: time, the bytes each way, slave,\n"
     "function, addresses, values, the failure if any (time-out, CRC error, wrong slave,\n"
     "truncated, late answer) and the timing (silence before the request, round trip,\n"
     "longest gap inside the answer). --count N stops after N exchanges; otherwise it runs\n"
     "until interrupted. --json prints one JSON object a line.\n",
     "vx310ctl sniff --port /dev/ttyUSB0 --baud 38400 --parity none"},
};

}  // namespace

CtlOptions ParseCtlOptions(std::span<const std::string> args) {
  CtlOptions o;
  const auto bad = [](const std::string& what) { return CtlError{kCtlUsage, what}; };
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool inlineValue = false;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      inlineValue = true;
    }
    const auto flag = [&] {
      if (inlineValue) throw bad(name + " takes no value");
    };
    const auto next = [&] {
      if (inlineValue) return;
      if (i + 1 >= args.size()) throw bad(name + " needs a value");
      value = args[++i];
    };
    const auto number = [&](int lo, int hi, int& out, const char* what) {
      next();
      if (!ToInt(value, lo, hi, out)) throw bad(name + " " + value + ": " + what);
    };

    if (name.rfind("--", 0) != 0 && name != "-h") {
      if (o.Command.empty()) {
        if (!IsCommand(name)) throw bad("unknown command " + name + " (try --help)");
        o.Command = name;
      } else if (o.Command == "get" || o.Command == "set") {
        o.Items.push_back(name);
      } else {
        throw bad(o.Command + " takes no argument " + name);
      }
    } else if (name == "--help" || name == "-h") {
      flag();
      o.Help = true;
    } else if (name == "--port") {
      next();
      if (value.empty()) throw bad("--port needs a port");
      o.Port = value;
    } else if (name == "--slave") {
      number(1, 247, o.Slave, "the slave address must be 1 to 247");
    } else if (name == "--slaves") {
      next();
      const auto dash = value.find('-');
      const std::string first = value.substr(0, dash);
      const std::string last = dash == std::string::npos ? first : value.substr(dash + 1);
      if (!ToInt(first, 1, 247, o.SlaveFirst) || !ToInt(last, 1, 247, o.SlaveLast) ||
          o.SlaveFirst > o.SlaveLast)
        throw bad("--slaves " + value + ": expected a range FIRST-LAST within 1-247");
    } else if (name == "--baud") {
      number(1, 4000000, o.Baud, "not a baud rate");
    } else if (name == "--parity") {
      next();
      static const char* const kParities[] = {"none", "odd", "even", "mark", "space"};
      const auto* p = std::find(std::begin(kParities), std::end(kParities), value);
      if (p == std::end(kParities))
        throw bad("--parity " + value + ": expected none, odd, even, mark or space");
      o.Parity = static_cast<int>(p - std::begin(kParities));
    } else if (name == "--models") {
      next();
      if (value.empty()) throw bad("--models needs a folder");
      o.Models = value;
    } else if (name == "--timeout") {
      number(1, 60000, o.TimeoutMs, "the time-out must be 1 to 60000 ms");
    } else if (name == "--count") {
      number(1, 100000000, o.Count, "the count must be 1 or more");
    } else if (name == "--interval") {
      number(1, 3600000, o.IntervalMs, "the interval must be 1 to 3600000 ms");
    } else if (name == "--json") {
      flag();
      o.Json = true;
    } else if (name == "--quiet") {
      flag();
      o.Quiet = true;
    } else if (name == "--verbose") {
      flag();
      o.Verbose = true;
    } else if (name == "--watch") {
      flag();
      o.Watch = true;
    } else if (name == "--save") {
      flag();
      o.Save = true;
    } else if (name == "--out") {
      next();
      if (value.empty()) throw bad("--out needs a file name");
      o.Out = value;
    } else if (name == "--in") {
      next();
      if (value.empty()) throw bad("--in needs a file name");
      o.In = value;
    } else {
      throw bad("unknown option " + name + " (try --help)");
    }
  }
  if (o.Help) return o;
  if (o.Command.empty()) throw bad("no command given (try --help)");
  const auto only = [&](bool given, const char* option, std::initializer_list<const char*> cmds) {
    if (!given) return;
    for (const char* c : cmds)
      if (o.Command == c) return;
    throw bad(std::string(option) + " does not apply to " + o.Command);
  };
  only(o.Watch, "--watch", {"state"});
  only(o.Save, "--save", {"set", "restore"});
  only(!o.Out.empty(), "--out", {"backup"});
  only(!o.In.empty(), "--in", {"restore", "compare"});
  only(o.Count != 0, "--count", {"sniff"});
  if ((o.Command == "get" || o.Command == "set") && o.Items.empty())
    throw bad(o.Command + " needs at least one " + (o.Command == "get" ? "NAME" : "NAME=VALUE"));
  if (o.Command == "set")
    for (const std::string& item : o.Items)
      if (item.find('=') == std::string::npos || item.front() == '=')
        throw bad("set " + item + ": expected NAME=VALUE");
  if (o.Command == "backup" && o.Out.empty()) throw bad("backup needs --out FILE");
  if ((o.Command == "restore" || o.Command == "compare") && o.In.empty())
    throw bad(o.Command + " needs --in FILE");
  return o;
}

std::string CtlUsage(const std::string& command) {
  for (const CommandHelp& h : kHelp) {
    if (command != h.Name) continue;
    return std::string("Usage: vx310ctl ") + h.Synopsis + " [options]\n\n" + h.Text +
           "\nExample:\n  " + h.Example + "\n\n" + kCommonOptions + "\n" + kExitCodes;
  }
  std::string text =
      "Usage: vx310ctl COMMAND [arguments] [options]\n"
      "The VX310 engine from the command line: identifies drives, shows their state and\n"
      "faults, reads and writes parameters by name, and backs up, restores and compares\n"
      "setups in the terminal's setup-file format.\n\n"
      "Commands (vx310ctl COMMAND --help explains each):\n";
  for (const CommandHelp& h : kHelp) {
    std::string line = std::string("  ") + h.Synopsis;
    if (line.size() < 36) line.resize(36, ' ');
    text += line + "  e.g. " + h.Example + "\n";
  }
  text += std::string("\n") + kCommonOptions + "\n" + kExitCodes +
          "\nExample:\n  vx310ctl backup --port tcp:127.0.0.1:5020 --slave 1 --out drive1.310\n";
  return text;
}

}  // namespace vx
