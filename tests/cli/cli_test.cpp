// vx310ctl as scripts run it, against the simulator serving drives 1, 2 and 5 over Modbus
// TCP and on its pseudo-terminal: every command's main path, the backup-change-compare-
// restore round, EEPROM saves reaching the simulator's state file only when asked, and
// every failure with its exit code and its one line on standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "clikit.h"
#include "mbwire/mbframe.h"
#include "mbwire/mbtest_hex.h"

namespace {

namespace fs = std::filesystem;
using namespace clitest;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// A scratch folder of its own for every test (the state files of the simulator, setup
// files, the settings file of the COM port map).
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (fs::path(::testing::TempDir()) /
            ("cli_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
               .string();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string File(const std::string& name) const { return dir_ + "/" + name; }

  // vx310ctl against `port` with the shipped data models, in the scratch folder.
  CtlRun Ctl(const std::string& port, std::vector<std::string> args) const {
    args.insert(args.end(), {"--port", port, "--models", kModels});
    return RunCtl(args, dir_);
  }

  std::string dir_;
};

TEST_F(CliTest, HelpNamesEveryCommandTheExitCodesAndAnExample) {
  const CtlRun all = RunCtl({"--help"});
  EXPECT_EQ(all.Status, 0);
  for (const char* c : {"scan", "identify", "state", "faults", "get", "set", "backup", "restore",
                        "compare", "sniff"}) {
    EXPECT_NE(all.Out.find(std::string("  ") + c), std::string::npos) << c;
    const CtlRun one = RunCtl({c, "--help"});
    EXPECT_EQ(one.Status, 0) << c;
    EXPECT_NE(one.Out.find(std::string("Usage: vx310ctl ") + c), std::string::npos) << c;
    EXPECT_NE(one.Out.find("Example:\n  vx310ctl " + std::string(c)), std::string::npos) << one.Out;
  }
  for (const char* code : {"0  done", "1  compare found differences",
                           "2  bad usage or bad input file", "3  no answer", "4  no data model"})
    EXPECT_NE(all.Out.find(code), std::string::npos) << code;
}

TEST_F(CliTest, BadUsageIsExitTwoWithTheOptionNamed) {
  const struct {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{}, "no command given"},
      {{"fly"}, "unknown command fly"},
      {{"identify", "--bogus"}, "unknown option --bogus"},
      {{"identify", "--slave", "0"}, "--slave 0: the slave address must be 1 to 247"},
      {{"scan", "--slaves", "9-3"}, "--slaves 9-3"},
      {{"backup"}, "backup needs --out FILE"},
      {{"compare"}, "compare needs --in FILE"},
      {{"get"}, "get needs at least one NAME"},
      {{"set", "ParMotorIrA"}, "set ParMotorIrA: expected NAME=VALUE"},
      {{"get", "ParMotorIrA", "--save"}, "--save does not apply to get"},
      {{"identify", "--parity", "sideways"}, "--parity sideways"},
  };
  for (const auto& c : cases) {
    const CtlRun r = RunCtl(c.args);
    EXPECT_EQ(r.Status, 2) << c.message;
    EXPECT_NE(r.Err.find("vx310ctl: " + c.message), std::string::npos) << r.Err;
    EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
  }
}

TEST_F(CliTest, ScanFindsExactlyTheServedAddresses) {
  Sim sim(dir_, "1,2,5");
  const CtlRun text = Ctl(sim.TcpPort(), {"scan", "--slaves", "1-7", "--timeout", "100"});
  ASSERT_EQ(text.Status, 0) << text.Err;
  const std::vector<std::string> lines = Lines(text.Out);
  ASSERT_EQ(lines.size(), 3u) << text.Out;
  for (std::size_t i = 0; i < 3; ++i) {
    const std::string slave = std::to_string(std::vector<int>{1, 2, 5}[i]);
    EXPECT_EQ(lines[i].rfind(std::string(3 - slave.size(), ' ') + slave + "  VX310v220", 0), 0u)
        << lines[i];
    EXPECT_NE(lines[i].find("VX310 stepper drive, firmware 2.xx"), std::string::npos) << lines[i];
    EXPECT_NE(lines[i].find("VX310v220.par"), std::string::npos) << lines[i];
  }

  const CtlRun json = Ctl(sim.TcpPort(), {"scan", "--slaves", "1-7", "--timeout", "100", "--json"});
  ASSERT_EQ(json.Status, 0) << json.Err;
  const Json doc = ParseJson(json.Out);
  ASSERT_EQ(doc["drives"].items.size(), 3u);
  std::vector<int> found;
  for (const Json& d : doc["drives"].items) {
    found.push_back(static_cast<int>(d["slave"].number));
    EXPECT_EQ(d["version"].text, "VX310v220");
    EXPECT_EQ(fs::path(d["model"].text).filename(), "VX310v220.par");
  }
  EXPECT_EQ(found, (std::vector<int>{1, 2, 5}));
}

TEST_F(CliTest, IdentifyStateFaultsAndGetShowTheDrive) {
  Sim sim(dir_, "1,2,5");
  const std::string port = sim.TcpPort();

  const CtlRun id = Ctl(port, {"identify", "--slave", "5", "--json"});
  ASSERT_EQ(id.Status, 0) << id.Err;
  const Json ident = ParseJson(id.Out);
  EXPECT_EQ(ident["slave"].number, 5);
  EXPECT_EQ(ident["version"].text, "VX310v220");
  EXPECT_EQ(ident["description"].text, "VX310 stepper drive, firmware 2.xx");

  const CtlRun state = Ctl(port, {"state", "--json"});
  ASSERT_EQ(state.Status, 0) << state.Err;
  std::map<std::string, Json> values;
  const Json stateDoc = ParseJson(state.Out);
  for (const Json& v : stateDoc["values"].items) values[v["name"].text] = v;
  for (const char* name : {"ParHWLimitVolt", "ParU_Dc_BusV", "ParI_MotorA", "ParS_MotorRPM",
                           "ParActualPos", "StateMotor"})
    EXPECT_TRUE(values.count(name)) << name << " missing in " << state.Out;
  EXPECT_FALSE(values["ParU_Dc_BusV"]["unit"].text.empty()) << state.Out;
  EXPECT_NO_THROW((void)std::stod(values["ParU_Dc_BusV"]["value"].text)) << state.Out;

  const CtlRun stateText = Ctl(port, {"state"});
  ASSERT_EQ(stateText.Status, 0) << stateText.Err;
  EXPECT_NE(stateText.Out.find("ParU_Dc_BusV"), std::string::npos);

  const CtlRun faults = Ctl(port, {"faults"});
  ASSERT_EQ(faults.Status, 0) << faults.Err;
  EXPECT_EQ(faults.Out, "Present faults:\n  - NO ERROR -\nPrevious faults:\n  - NO ERROR -\n");

  const CtlRun get = Ctl(port, {"get", "ParMotorIrA", "cfgrefsource", "--json"});
  ASSERT_EQ(get.Status, 0) << get.Err;
  const Json pars = ParseJson(get.Out)["parameters"];
  ASSERT_EQ(pars.items.size(), 2u);
  EXPECT_EQ(pars.items[0]["name"].text, "ParMotorIrA");
  EXPECT_EQ(pars.items[0]["value"].text, "002.8A");
  EXPECT_EQ(pars.items[0]["max"].text, "008.0A");  // tied to the current range
  EXPECT_EQ(pars.items[1]["name"].text, "CfgRefSource");
  EXPECT_EQ(pars.items[1]["choices"].items.size(), 4u);

  const CtlRun getText = Ctl(port, {"get", "ParMotorIrA", "ParMotorAccel"});
  ASSERT_EQ(getText.Status, 0) << getText.Err;
  EXPECT_EQ(Lines(getText.Out).size(), 2u);
  EXPECT_EQ(Lines(getText.Out)[0], "ParMotorIrA=002.8A");
}

TEST_F(CliTest, PresentFaultsAreListedWithTheirTexts) {
  Sim sim(dir_, "1", {"--fault", "ActFault2:3"});
  const CtlRun r = Ctl(sim.TcpPort(), {"faults", "--json"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  const Json doc = ParseJson(r.Out);
  ASSERT_EQ(doc["present"].items.size(), 1u) << r.Out;
  EXPECT_FALSE(doc["present"].items[0].text.empty());
  // A present fault enters the previous faults too.
  EXPECT_EQ(doc["previous"].items.size(), 1u) << r.Out;
}

TEST_F(CliTest, WatchPrintsOneLinePerSampleUntilInterrupted) {
  Sim sim(dir_, "1");
  Child watch(
      {kCtl, "state", "--watch", "--interval", "200", "--port", sim.TcpPort(), "--models", kModels},
      dir_);
  ASSERT_FALSE(watch.WaitOutLine("ParU_Dc_BusV=").empty()) << watch.Err();
  ASSERT_FALSE(watch.WaitOutLine("ParU_Dc_BusV=").empty()) << watch.Err();
  watch.Signal(SIGINT);
  EXPECT_EQ(watch.Wait(), 0) << watch.Err();
  for (const std::string& line : Lines(watch.Out())) {
    EXPECT_EQ(line.find('\t'), 23u) << line;  // the time stamp, then the values
    EXPECT_NE(line.find("\tStateMotor="), std::string::npos) << line;
  }
}

TEST_F(CliTest, BackupSetCompareRestoreCompare) {
  Sim sim(dir_, "1,2,5");
  const std::string port = sim.TcpPort();
  const std::string backup = File("drive2.310");

  const CtlRun b = Ctl(port, {"backup", "--slave", "2", "--out", backup});
  ASSERT_EQ(b.Status, 0) << b.Err;
  const std::string saved = ReadFile(backup);
  EXPECT_EQ(saved.rfind("[Header]\r\nVersion=\"2.20\"\r\n", 0), 0u) << saved;
  EXPECT_NE(saved.find("[VX310_Setup]\r\n"), std::string::npos);
  EXPECT_NE(saved.find("MotorIrA=\"\"28\"\"\r\n"), std::string::npos) << saved;

  const CtlRun s = Ctl(port, {"set", "--slave", "2", "ParMotorIrA=3.5", "ParMotorAccel=6000",
                              "CfgRefSource=Analog input"});
  ASSERT_EQ(s.Status, 0) << s.Err;
  EXPECT_EQ(Lines(s.Out), (std::vector<std::string>{"ParMotorIrA=003.5A", "ParMotorAccel=6000rpm/s",
                                                    "CfgRefSource=Analog input"}));

  const CtlRun differs = Ctl(port, {"compare", "--slave", "2", "--in", backup, "--json"});
  EXPECT_EQ(differs.Status, 1) << differs.Err;
  const Json diff = ParseJson(differs.Out);
  std::map<std::string, std::pair<std::string, std::string>> listed;
  for (const Json& d : diff["differences"].items)
    listed[d["name"].text] = {d["drive"].text, d["file"].text};
  EXPECT_EQ(listed.size(), 3u) << differs.Out;
  EXPECT_EQ(listed["ParMotorIrA"], std::make_pair(std::string("003.5A"), std::string("002.8A")));
  EXPECT_EQ(listed["ParMotorAccel"].first, "6000rpm/s");
  EXPECT_EQ(listed["CfgRefSource"],
            std::make_pair(std::string("Analog input"), std::string("Field bus")));

  // The other drives on the line kept their own setup.
  EXPECT_EQ(Ctl(port, {"compare", "--slave", "5", "--in", backup}).Status, 0);

  const CtlRun r = Ctl(port, {"restore", "--slave", "2", "--in", backup});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("values taken"), std::string::npos) << r.Err;

  const CtlRun same = Ctl(port, {"compare", "--slave", "2", "--in", backup});
  EXPECT_EQ(same.Status, 0) << same.Out << same.Err;
  EXPECT_EQ(same.Out, "");
}

// Sending a setup writes the EEPROM registers the data model edits there directly, so the
// state file is watched for the EEPROM copy of one setup value: microsteps per step, whose
// copy is register 1103.
TEST_F(CliTest, SaveReachesTheEepromFileOnlyWhenAsked) {
  Sim sim(dir_, "1,5");
  const std::string port = sim.TcpPort();
  const auto stepDiv = [&](const std::string& file) {
    const std::string text = fs::exists(file) ? ReadFile(file) : std::string();
    const auto at = text.find("\r\n1103=");
    return at == std::string::npos ? std::string("(none)") : text.substr(at + 7, 4);
  };
  const std::string eeprom = File("ee.5");

  ASSERT_EQ(Ctl(port, {"set", "--slave", "5", "ParMotorStepDiv=32"}).Status, 0);
  EXPECT_NE(stepDiv(eeprom), "0020") << "a set without --save reached the EEPROM";
  const CtlRun saved = Ctl(port, {"set", "--slave", "5", "ParMotorStepDiv=32", "--save"});
  ASSERT_EQ(saved.Status, 0) << saved.Err;
  EXPECT_EQ(stepDiv(eeprom), "0020");
  EXPECT_NE(stepDiv(File("ee.1")), "0020") << "slave 1 has an EEPROM of its own";

  const std::string backup = File("five.310");
  ASSERT_EQ(Ctl(port, {"backup", "--slave", "5", "--out", backup}).Status, 0);
  ASSERT_EQ(Ctl(port, {"set", "--slave", "5", "ParMotorStepDiv=64", "--save"}).Status, 0);
  EXPECT_EQ(stepDiv(eeprom), "0040");
  ASSERT_EQ(Ctl(port, {"restore", "--slave", "5", "--in", backup}).Status, 0);
  EXPECT_EQ(stepDiv(eeprom), "0040") << "a restore without --save reached the EEPROM";
  ASSERT_EQ(Ctl(port, {"restore", "--slave", "5", "--in", backup, "--save"}).Status, 0);
  EXPECT_EQ(stepDiv(eeprom), "0020");
}

TEST_F(CliTest, RefusedValuesWriteNothing) {
  Sim sim(dir_, "1");
  const std::string port = sim.TcpPort();
  const struct {
    std::vector<std::string> items;
    std::string message;
  } cases[] = {
      {{"ParMotorAccel=7000", "ParMotorIrA=99"},
       "ParMotorIrA=99 refused: \"99\" is above the maximum 008.0A; nothing written"},
      {{"ParMotorStepRev=10"},
       "ParMotorStepRev=10 refused: \"10\" is below the minimum 24 stp/rev"},
      {{"ParMotorAccel=fast"}, "ParMotorAccel=fast refused: \"fast\" is not a number"},
      {{"CfgRefSource=Sideways"},
       "CfgRefSource=Sideways refused: \"Sideways\" is not a choice; the choices are"},
      {{"ParActualPos=5"}, "ParActualPos=5 refused: read-only"},
      {{"ParNoSuch=1"}, "unknown parameter ParNoSuch"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"set"};
    args.insert(args.end(), c.items.begin(), c.items.end());
    const CtlRun r = Ctl(port, args);
    EXPECT_EQ(r.Status, 2) << c.message;
    EXPECT_NE(r.Err.find("vx310ctl: " + c.message), std::string::npos) << r.Err;
    EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
  }
  const CtlRun after = Ctl(port, {"get", "ParMotorAccel", "ParMotorIrA", "ParMotorStepRev"});
  EXPECT_EQ(after.Out,
            "ParMotorAccel=5000rpm/s\nParMotorIrA=002.8A\nParMotorStepRev=200 stp/rev\n");
}

TEST_F(CliTest, FailuresNameWhatFailedWithTheirExitCodes) {
  Sim sim(dir_, "1");
  const std::string port = sim.TcpPort();
  fs::create_directories(File("nomodels"));
  {
    std::ofstream(File("foreign.310")) << "[Something]\r\nKey=1\r\n";
    std::ofstream(File("empty.310")) << "";
  }
  // A port on which nothing listens: bound once, then freed.
  const std::string closed = "tcp:127.0.0.1:1";
  const struct {
    std::string port;
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {closed, {"identify"}, 3, "cannot open tcp:127.0.0.1:1: "},
      {port,
       {"identify", "--slave", "7", "--timeout", "100"},
       3,
       "no answer from slave 7 on " + port + ": "},
      {port, {"get", "ParNope"}, 2, "unknown parameter ParNope"},
      {port, {"restore", "--in", File("missing.310")}, 2, "cannot read " + File("missing.310")},
      {port,
       {"compare", "--in", File("foreign.310")},
       2,
       File("foreign.310") + ": not a VX310 setup file"},
      {port,
       {"restore", "--in", File("empty.310")},
       2,
       File("empty.310") + ": not a VX310 setup file"},
      {port,
       {"backup", "--out", File("no/such/dir/x.310")},
       2,
       "cannot write " + File("no/such/dir/x.310")},
  };
  for (const auto& c : cases) {
    const CtlRun r = Ctl(c.port, c.args);
    EXPECT_EQ(r.Status, c.status) << c.message << "\n" << r.Err;
    EXPECT_NE(r.Err.find("vx310ctl: " + c.message), std::string::npos) << r.Err;
    EXPECT_EQ(Lines(r.Err).size(), 1u) << r.Err;
  }
  // No data model: the drive answers, but nothing in the folder describes its version.
  const CtlRun none = RunCtl(
      {"backup", "--out", File("x.310"), "--port", port, "--models", File("nomodels")}, dir_);
  EXPECT_EQ(none.Status, 4) << none.Err;
  EXPECT_NE(none.Err.find("vx310ctl: slave 1 on " + port + ": no data model for VX310v220 in " +
                          File("nomodels")),
            std::string::npos)
      << none.Err;
  EXPECT_FALSE(fs::exists(File("x.310")));

  // With --json the failure is a document too.
  const CtlRun json = Ctl(port, {"get", "ParNope", "--json"});
  EXPECT_EQ(json.Status, 2);
  const Json doc = ParseJson(json.Out);
  EXPECT_EQ(doc["exit"].number, 2);
  EXPECT_EQ(doc["error"].text,
            "unknown parameter ParNope (not a parameter of this drive's data model)");
}

// The serial road: the simulator's pseudo-terminal, named as a device path and as COM1
// through the settings file's port map.
TEST_F(CliTest, PseudoTerminalByPathAndByComPort) {
  const std::string link = File("com1");
  Sim sim(dir_, "1,2", {"--pty", link});
  const CtlRun id = Ctl(link, {"identify", "--slave", "2"});
  ASSERT_EQ(id.Status, 0) << id.Err;
  EXPECT_EQ(id.Out.rfind("  2  VX310v220", 0), 0u) << id.Out;

  std::ofstream(File("VX310_ConfigTerm.ini")) << "[Ports]\r\nCOM1=" << link << "\r\n";
  const CtlRun backup = Ctl("COM1", {"backup", "--slave", "1", "--out", File("pty.310")});
  ASSERT_EQ(backup.Status, 0) << backup.Err;
  EXPECT_EQ(Ctl("COM1", {"compare", "--slave", "1", "--in", File("pty.310")}).Status, 0);
  ASSERT_EQ(Ctl("COM1", {"set", "--slave", "1", "ParSpeedWin=40"}).Status, 0);
  const CtlRun diff = Ctl("COM1", {"compare", "--slave", "1", "--in", File("pty.310")});
  EXPECT_EQ(diff.Status, 1);
  EXPECT_EQ(diff.Out, "ParSpeedWin\tdrive: 40rpm\tfile: 20rpm\n");
}

// Another master's traffic on a line (the far side of a pseudo-terminal, written by the
// test): sniff prints each exchange decoded, the spoilt answer as a CRC error, and sends
// nothing.
TEST_F(CliTest, SniffDecodesAnotherMastersExchanges) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string line = ptsname(master);
  Child sniff({kCtl, "sniff", "--port", line, "--parity", "none", "--count", "3"}, dir_);
  ASSERT_TRUE(sniff.WaitErr("listening on " + line)) << sniff.Err();

  using vxtest::Hex;
  std::vector<uint8_t> traffic;
  for (const auto& f :
       {vx::EncodeRtu(Hex("01 03 00 10 00 02")), vx::EncodeRtu(Hex("01 03 04 00 0A 01 F4")),
        vx::EncodeRtu(Hex("01 06 00 20 00 05")), vx::EncodeRtu(Hex("01 06 00 20 00 05")),
        vx::EncodeRtu(Hex("01 03 00 10 00 01"))})
    traffic.insert(traffic.end(), f.begin(), f.end());
  auto spoilt = vx::EncodeRtu(Hex("01 03 02 00 07"));
  spoilt.back() ^= 0x5A;
  traffic.insert(traffic.end(), spoilt.begin(), spoilt.end());
  ASSERT_EQ(write(master, traffic.data(), traffic.size()), static_cast<ssize_t>(traffic.size()));

  EXPECT_EQ(sniff.Wait(), 0) << sniff.Err();
  const std::string& out = sniff.Out();
  EXPECT_NE(out.find("  TX 01 03 00 10 00 02 "), std::string::npos) << out;
  EXPECT_NE(out.find("slave 1 Read holding registers @16-17 = 10 500: OK"), std::string::npos)
      << out;
  EXPECT_NE(out.find("slave 1 Write single register @32 = 5: OK"), std::string::npos) << out;
  EXPECT_NE(out.find("  RX " + vxtest::ToHex(spoilt)), std::string::npos) << out;
  EXPECT_NE(out.find("@16: CRC error"), std::string::npos) << out;
  // Nothing came back to the master's side: a sniffer never writes.
  char buf[64];
  const int flags = fcntl(master, F_GETFL);
  fcntl(master, F_SETFL, flags | O_NONBLOCK);
  EXPECT_LT(read(master, buf, sizeof buf), 1);
  close(master);
}

TEST_F(CliTest, SniffRefusesATcpTarget) {
  const CtlRun r = RunCtl({"sniff", "--port", "tcp:127.0.0.1:502"}, dir_);
  EXPECT_EQ(r.Status, 2);
  EXPECT_NE(r.Err.find("sniff listens on a serial line"), std::string::npos) << r.Err;
}

}  // namespace
