// The settings file: values survive a write and a read, lines the program does not know
// survive a write, and damaged or odd files give defaults instead of harm.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "apptest.h"
#include "config/inifile.h"
#include "config/portsettings.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbserial.h"

namespace {

using vx::TIniFile;

TEST(IniFile, ValuesSurviveWriteAndReadWithForeignLinesKept) {
  vxtest::ScratchDir dir("ini_roundtrip");
  dir.Write("s.ini",
            "; kept by hand\r\n[AboutForm]\r\nCompany=Orvadi s.n.c.\r\n\r\n[MainForm]\r\n"
            "Top=5\r\n");
  {
    TIniFile ini(dir.File("s.ini"));
    ini.WriteInteger("MainForm", "Top", -20);
    ini.WriteInteger("MainForm", "Width", 640);
    ini.WriteInteger("Setup", "LastSlave", 32);
    ini.WriteString("Ports", "COM1", "/dev/ttyUSB0");
    ini.WriteString("AboutForm", "Message", "two\nlines");
    ASSERT_TRUE(ini.UpdateFile()) << ini.LastError();
  }
  const TIniFile ini(dir.File("s.ini"));
  EXPECT_EQ(ini.ReadInteger("MainForm", "Top", 0), -20);
  EXPECT_EQ(ini.ReadInteger("MainForm", "Width", 0), 640);
  EXPECT_EQ(ini.ReadInteger("Setup", "LastSlave", 0), 32);
  EXPECT_EQ(ini.ReadString("Ports", "COM1", ""), "/dev/ttyUSB0");
  EXPECT_EQ(ini.ReadString("AboutForm", "Company", ""), "Orvadi s.n.c.");
  // A value cannot break the file into lines.
  EXPECT_EQ(ini.ReadString("AboutForm", "Message", ""), "two lines");
  const std::string text = dir.Read("s.ini");
  EXPECT_EQ(text.rfind("; kept by hand\r\n[AboutForm]\r\nCompany=Orvadi s.n.c.\r\nMessage=two "
                       "lines\r\n\r\n[MainForm]\r\nTop=-20\r\nWidth=640\r\n",
                       0),
            0u)
      << text;
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
}

TEST(IniFile, SectionsAndKeysMatchWithoutCase) {
  TIniFile ini("/nonexistent/none.ini");
  ini.WriteInteger("mainform", "TOP", 7);
  ini.WriteInteger("MAINFORM", "top", 8);
  EXPECT_EQ(ini.ReadInteger("MainForm", "Top", 0), 8);
}

TEST(IniFile, OddValuesAndLinesGiveDefaults) {
  vxtest::ScratchDir dir("ini_odd");
  dir.Write("s.ini",
            "garbage without equals\n[Setup]\n=novalue\nA=abc\nB=12abc\nC=99999999999\nD=\n"
            "E= +42 \nF=-2147483648\nG=0x10\nH=1e3\n\x01\xff\xfe binary\r"
            "[Setup]\nA=7\n[ Ports ]\nCOM2 = /dev/ttyS9 \n[Broken\nI=1\n");
  const TIniFile ini(dir.File("s.ini"));
  EXPECT_TRUE(ini.ReadError().empty());
  const struct {
    const char* key;
    int32_t expected;
  } cases[] = {{"A", -1},        {"B", -1}, {"C", -1}, {"D", -1}, {"E", 42},
               {"F", INT32_MIN}, {"G", -1}, {"H", -1}, {"I", -1}, {"Z", -1}};
  for (const auto& c : cases) EXPECT_EQ(ini.ReadInteger("Setup", c.key, -1), c.expected) << c.key;
  EXPECT_EQ(ini.ReadString("Ports", "COM2", ""), "/dev/ttyS9");
  // "[Broken" is no header: the key after it is still in Ports.
  EXPECT_EQ(ini.ReadInteger("Ports", "I", -1), 1);
  EXPECT_EQ(ini.ReadString("Setup", "", "dflt"), "dflt");
}

TEST(IniFile, MissingOrUnreadableFileReadsEmpty) {
  vxtest::ScratchDir dir("ini_missing");
  const TIniFile missing(dir.File("none.ini"));
  EXPECT_TRUE(missing.ReadError().empty());
  EXPECT_EQ(missing.ReadInteger("Setup", "LastPort", 1), 1);

  std::filesystem::create_directory(dir.File("folder.ini"));
  const TIniFile folder(dir.File("folder.ini"));
  EXPECT_FALSE(folder.ReadError().empty());
  EXPECT_EQ(folder.ReadInteger("Setup", "LastPort", 3), 3);
}

TEST(IniFile, FailedWriteLeavesOldFileAndSaysWhy) {
  vxtest::ScratchDir dir("ini_fail");
  TIniFile gone(dir.File("no/such/dir/s.ini"));
  gone.WriteInteger("Setup", "LastPort", 2);
  EXPECT_FALSE(gone.UpdateFile());
  EXPECT_NE(gone.LastError().find("s.ini"), std::string::npos) << gone.LastError();

  // A file that is a folder cannot be replaced; the folder stays.
  std::filesystem::create_directory(dir.File("folder.ini"));
  TIniFile folder(dir.File("folder.ini"));
  folder.WriteInteger("Setup", "LastPort", 2);
  EXPECT_FALSE(folder.UpdateFile());
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder.ini")));
}

TEST(PortSettings, ValuesParseToSerialOrTcpTargets) {
  const struct {
    const char* value;
    bool ok;
    bool tcp;
    const char* where;
    int port;
  } cases[] = {
      {"/dev/ttyUSB0", true, false, "/dev/ttyUSB0", 0},
      {"tcp:127.0.0.1:5020", true, true, "127.0.0.1", 5020},
      {"tcp:drive.local:502", true, true, "drive.local", 502},
      {"tcp:127.0.0.1:0", false, false, "", 0},
      {"tcp:127.0.0.1:65536", false, false, "", 0},
      {"tcp:127.0.0.1:50x", false, false, "", 0},
      {"tcp::502", false, false, "", 0},
      {"tcp:host", false, false, "", 0},
      {"", false, false, "", 0},
  };
  for (const auto& c : cases) {
    vx::PortTarget t;
    ASSERT_EQ(vx::ParsePortTarget(c.value, &t), c.ok) << c.value;
    if (!c.ok) continue;
    EXPECT_EQ(t.Tcp, c.tcp) << c.value;
    EXPECT_EQ(c.tcp ? t.Host : t.Device, c.where) << c.value;
    EXPECT_EQ(t.TcpPort, c.port) << c.value;
  }
}

TEST(PortSettings, SectionPortsMapsComPortsAndNamesBadValues) {
  vxtest::ScratchDir dir("ports");
  dir.Write("s.ini", "[Ports]\nCOM1=/tmp/vx310link\nCOM3=tcp:127.0.0.1:5020\nCOM4=tcp:x:0\n");
  vx::ResetComPortPaths();
  std::string problems;
  vx::ApplyPortSettings(TIniFile(dir.File("s.ini")), &problems);
  EXPECT_EQ(vx::ComPortPath(1), "/tmp/vx310link");
  EXPECT_EQ(vx::ComPortPath(2), "/dev/ttyS1");
  vx::PortTarget t;
  EXPECT_FALSE(vx::TcpTargetOf(1, &t));
  ASSERT_TRUE(vx::TcpTargetOf(3, &t));
  EXPECT_EQ(t.TcpPort, 5020);
  EXPECT_FALSE(vx::TcpTargetOf(4, &t));
  EXPECT_NE(problems.find("COM4"), std::string::npos) << problems;
  EXPECT_EQ(problems.find("COM1"), std::string::npos) << problems;
  // A later file without the mapping gives the port back to the serial line.
  vx::ApplyPortSettings(TIniFile(dir.File("none.ini")));
  EXPECT_FALSE(vx::TcpTargetOf(3, &t));
  vx::ResetComPortPaths();
}

TEST(PortSettings, EveryReadSetsEverySlotSoThatAnAbsentKeyResetsItsPort) {
  vxtest::ScratchDir dir("ports_reread");
  vx::ResetComPortPaths();
  // Each read after the first: what the port map holds for COM1 and COM2 afterwards.
  struct Case {
    const char* what;
    const char* ports;
    const char* com1;
    bool com2Tcp;
  } cases[] = {
      {"both mapped", "COM1=/dev/ttyUSB0\nCOM2=tcp:gateway:502\n", "/dev/ttyUSB0", true},
      {"keys removed", "", "/dev/ttyS0", false},
      {"mapped again", "COM1=/dev/ttyUSB1\nCOM2=tcp:gateway:502\n", "/dev/ttyUSB1", true},
      {"values not understood", "COM1=\nCOM2=tcp:gateway:x\n", "/dev/ttyS0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dir.Write("s.ini", std::string("[Setup]\nLastPort=1\n[Ports]\n") + c.ports);
    vx::ApplyPortSettings(TIniFile(dir.File("s.ini")));
    EXPECT_EQ(vx::ComPortPath(1), c.com1);
    vx::PortTarget t;
    EXPECT_EQ(vx::TcpTargetOf(2, &t), c.com2Tcp);
    EXPECT_EQ(vx::PortMap().Target(2).Tcp, c.com2Tcp);
  }
  vx::ResetComPortPaths();
}

}  // namespace
