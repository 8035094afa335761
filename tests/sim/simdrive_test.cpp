// The simulated drive at the level of Modbus PDUs, without a line: addressing, the
// register layout on the wire, exceptions, the version answer, the EEPROM state file and
// the motor behind the registers. Time is handed in, so the motor runs on a fixed clock.
#include "sim/simdrive.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/koexception.h"
#include "sim/simimage.h"

namespace {

using namespace std::chrono_literals;
using Clock = vx::SimDrive::Clock;
namespace fs = std::filesystem;

const std::string kModel = std::string(VX_SOURCE_DIR) + "/models/VX310v220.par";

std::vector<uint8_t> Bytes(std::initializer_list<int> b) {
  std::vector<uint8_t> v;
  for (int x : b) v.push_back(static_cast<uint8_t>(x));
  return v;
}

std::string TempPath(const std::string& name) {
  return (fs::path(::testing::TempDir()) / ("simdrive_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

class Drive : public ::testing::Test {
 protected:
  void Start(const std::string& stateFile = "", const std::string& model = kModel) {
    drive_.reset();
    image_ = std::make_unique<vx::SimImage>(model);
    vx::SimDriveOptions o;
    o.slave = 7;
    o.stateFile = stateFile;
    drive_ = std::make_unique<vx::SimDrive>(*image_, o, t0_);
  }
  void SetUp() override { Start(); }

  uint16_t Addr(const char* name) const {
    const TkoRegister* r = image_->Find(name);
    EXPECT_NE(r, nullptr) << name;
    return r ? r->Definition()->Address : 0;
  }

  vx::SimDrive::Reply Send(const std::vector<uint8_t>& adu, Clock::duration at = {}) {
    return drive_->Serve(adu, t0_ + at);
  }
  // One register read through 0x03, as a signed or unsigned 16-bit value.
  int Read(const char* name, Clock::duration at = {}, bool isSigned = false) {
    const uint16_t a = Addr(name);
    const auto r = Send(Bytes({7, 0x03, a >> 8, a & 0xFF, 0, 1}), at);
    EXPECT_EQ(r.adu.size(), 5u) << name;
    if (r.adu.size() != 5) return -1;
    const int v = r.adu[3] << 8 | r.adu[4];
    return isSigned && v >= 0x8000 ? v - 0x10000 : v;
  }
  int32_t ReadLong(const char* low, Clock::duration at) {
    const uint16_t a = Addr(low);
    const auto r = Send(Bytes({7, 0x03, a >> 8, a & 0xFF, 0, 2}), at);
    EXPECT_EQ(r.adu.size(), 7u);
    if (r.adu.size() != 7) return 0;
    return static_cast<int32_t>(
        static_cast<uint32_t>(r.adu[5] << 24 | r.adu[6] << 16 | r.adu[3] << 8 | r.adu[4]));
  }
  void Write(const char* name, int value, Clock::duration at = {}) {
    const uint16_t a = Addr(name);
    const auto r = Send(Bytes({7, 0x06, a >> 8, a & 0xFF, (value >> 8) & 0xFF, value & 0xFF}), at);
    ASSERT_EQ(r.adu.size(), 6u) << name << " not written: " << r.note;
  }
  void WriteLong(const char* low, int32_t value, Clock::duration at = {}) {
    const uint16_t a = Addr(low);
    const auto v = static_cast<int>(static_cast<uint32_t>(value) >> 16),
               w = static_cast<int>(value & 0xFFFF);
    const auto r =
        Send(Bytes({7, 0x10, a >> 8, a & 0xFF, 0, 2, 4, w >> 8, w & 0xFF, v >> 8, v & 0xFF}), at);
    ASSERT_EQ(r.adu.size(), 6u) << low << " not written: " << r.note;
  }

  Clock::time_point t0_ = Clock::time_point{} + 1000h;
  std::unique_ptr<vx::SimImage> image_;
  std::unique_ptr<vx::SimDrive> drive_;
};

TEST_F(Drive, AnswersOnlyItsOwnAddressAndCarriesOutBroadcastWrites) {
  const uint16_t ref = Addr("SpeedRef");
  EXPECT_TRUE(Send(Bytes({8, 0x03, ref >> 8, ref & 0xFF, 0, 1})).adu.empty());
  EXPECT_FALSE(Send(Bytes({8, 0x03, ref >> 8, ref & 0xFF, 0, 1})).addressed);

  const auto broadcast = Send(Bytes({0, 0x06, ref >> 8, ref & 0xFF, 0x12, 0x34}));
  EXPECT_TRUE(broadcast.adu.empty());
  EXPECT_EQ(Read("SpeedRef"), 0x1234);
  EXPECT_TRUE(Send(Bytes({0, 0x03, ref >> 8, ref & 0xFF, 0, 1})).adu.empty());
}

// Each malformed or impossible request gets its exception, and changes nothing.
TEST_F(Drive, AnswersExceptionsForWhatItCannotDo) {
  struct Case {
    const char* what;
    std::vector<uint8_t> adu;
    uint8_t function;
    uint8_t code;
  };
  const uint16_t ref = Addr("SpeedRef");
  const Case cases[] = {
      {"unknown function", Bytes({7, 0x2B, 0x0E, 1, 0}), 0x2B, 0x01},
      {"read of an undefined address", Bytes({7, 0x03, 0x01, 0xF4, 0, 1}), 0x03, 0x02},
      {"read reaching past the last register of a block", Bytes({7, 0x03, 0, 144, 0, 2}), 0x03,
       0x02},
      {"read of no register", Bytes({7, 0x03, 0, 100, 0, 0}), 0x03, 0x03},
      {"read longer than the firmware buffer", Bytes({7, 0x03, 0x04, 0x4C, 0, 62}), 0x03, 0x03},
      {"read request of the wrong length", Bytes({7, 0x03, 0, 100, 0}), 0x03, 0x03},
      {"write to an undefined address", Bytes({7, 0x06, 0x01, 0xF4, 0, 1}), 0x06, 0x02},
      {"single write with three data bytes", Bytes({7, 0x06, ref >> 8, ref & 0xFF, 0, 1, 2}), 0x06,
       0x03},
      {"multiple write whose byte count disagrees",
       Bytes({7, 0x10, ref >> 8, ref & 0xFF, 0, 1, 4, 0, 1, 0, 2}), 0x10, 0x03},
      {"multiple write shorter than its byte count",
       Bytes({7, 0x10, ref >> 8, ref & 0xFF, 0, 1, 2, 0}), 0x10, 0x03},
      {"version request with data", Bytes({7, 0x41, 0}), 0x41, 0x03},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto r = Send(c.adu);
    ASSERT_EQ(r.adu.size(), 3u);
    EXPECT_EQ(r.adu[0], 7);
    EXPECT_EQ(r.adu[1], c.function | 0x80);
    EXPECT_EQ(r.adu[2], c.code);
  }
  EXPECT_EQ(Read("SpeedRef"), 0);
}

// Requests and answers stay within the firmware's buffer, frame and CRC included.
TEST_F(Drive, KeepsRequestsAndAnswersWithinTheFirmwareBuffer) {
  const std::string model = TempPath("buffer.par");
  {
    std::ofstream f(model);
    f << "[DataModel]\nMaxBufferSize=64\n";
    for (int a = 0; a < 40; ++a) f << "[" << a << "]\n";
  }
  Start("", model);
  // 29 words answer in 5 + 58 bytes, 30 in 65.
  EXPECT_EQ(Send(Bytes({7, 0x03, 0, 0, 0, 29})).adu.size(), 3u + 58u);
  EXPECT_EQ(Send(Bytes({7, 0x03, 0, 0, 0, 30})).adu, Bytes({7, 0x83, 0x03}));
  // 27 words go out in 9 + 54 bytes, 28 in 65.
  for (const auto& [count, answer] :
       {std::pair{27, Bytes({7, 0x10, 0, 0, 0, 27})}, std::pair{28, Bytes({7, 0x90, 0x03})}}) {
    std::vector<uint8_t> write = Bytes({7, 0x10, 0, 0, 0, count, 2 * count});
    write.resize(write.size() + 2 * static_cast<std::size_t>(count), 0x11);
    EXPECT_EQ(Send(write).adu, answer) << count << " words";
  }
  fs::remove(model);
}

TEST_F(Drive, AnswersTheVersionWithItsFiveWords) {
  struct Case {
    const char* text;
    std::vector<uint8_t> words;
  };
  const Case cases[] = {
      // Board, model, variant (first character low), version word, suffix.
      {"VX310v220", Bytes({0, 0, 0x01, 0x36, 0xFF, 0xFF, 0x00, 0xDC, 0xFF, 0xFF})},
      {"VXP12_VX310-VEv231-ST", Bytes({0, 12, 0x01, 0x36, 'E', 'V', 0x00, 0xE7, 'T', 'S'})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    vx::SimDriveOptions o;
    o.version = TkoVersionRecord(c.text);
    vx::SimDrive drive(*image_, o, t0_);
    const auto r = drive.Serve(Bytes({1, 0x41}), t0_);
    std::vector<uint8_t> expected = Bytes({1, 0x41});
    expected.insert(expected.end(), c.words.begin(), c.words.end());
    EXPECT_EQ(r.adu, expected);
  }
}

// A long, an array and a date take all their words at their one address, and the
// addresses after them are not shifted.
TEST_F(Drive, ServesMultiWordRegistersWithAllTheirWords) {
  const std::string model = TempPath("layout.par");
  {
    std::ofstream f(model);
    f << "[DataModel]\nMaxBufferSize=64\n"
         "[10]\nName=Counter\nType=\"unsigned long\"\n"
         "[11]\nName=Word\n"
         "[12]\nName=Table\nLength=3\n"
         "[13]\nName=Stamp\nType=date\n"
         "[14]\nName=Last\n";
  }
  Start("", model);
  // 10+5: 4 + 2 + 6 + 6 + 2 bytes.
  const auto write = Send(Bytes({7, 0x10, 0, 10, 0, 5, 20, 0x12, 0x34, 0x56, 0x78, 0,    0x11, 0,
                                 1, 0,    2, 0,  3, 0, 31, 0,    12,   0,    49,   0xAB, 0xCD}));
  ASSERT_EQ(write.adu, Bytes({7, 0x10, 0, 10, 0, 5}));
  EXPECT_EQ(Send(Bytes({7, 0x03, 0, 10, 0, 1})).adu, Bytes({7, 0x03, 4, 0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(Send(Bytes({7, 0x03, 0, 11, 0, 2})).adu,
            Bytes({7, 0x03, 8, 0, 0x11, 0, 1, 0, 2, 0, 3}));
  EXPECT_EQ(Send(Bytes({7, 0x03, 0, 14, 0, 1})).adu, Bytes({7, 0x03, 2, 0xAB, 0xCD}));
  // A single write to the long takes its four bytes, and only those.
  EXPECT_EQ(Send(Bytes({7, 0x06, 0, 10, 0, 0, 0, 9})).adu, Bytes({7, 0x06, 0, 10, 0, 0, 0, 9}));
  EXPECT_EQ(Send(Bytes({7, 0x06, 0, 10, 0, 9})).adu, Bytes({7, 0x86, 0x03}));
  EXPECT_EQ(Send(Bytes({7, 0x03, 0, 10, 0, 2})).adu, Bytes({7, 0x03, 6, 0, 0, 0, 9, 0, 0x11}));
  fs::remove(model);
}

TEST_F(Drive, StartsFromTheModelDefaultsWithTheRamSetupCopiedFromTheEeprom) {
  EXPECT_EQ(Read("MotorStepRev"), 200);
  EXPECT_EQ(Read("EEMotorStepRev"), 200);
  EXPECT_EQ(Read("Config"), 0x0213);
  EXPECT_EQ(Read("MotorIrA"), 28);  // 2.8 A in tenths
  EXPECT_EQ(Read("HWLimitVolt"), 400);
}

TEST_F(Drive, KeepsTheEepromInTheStateFileAcrossARestart) {
  const std::string state = TempPath("eeprom.state");
  fs::remove(state);
  Start(state);
  EXPECT_FALSE(fs::exists(state)) << "nothing written before the EEPROM is";
  Write("MotorStepRev", 400);  // RAM only
  EXPECT_FALSE(fs::exists(state));
  Write("EEMotorStepRev", 300);
  Write("EEMotorAccel", 1234);
  ASSERT_TRUE(fs::exists(state));

  Start(state);
  EXPECT_EQ(Read("EEMotorStepRev"), 300);
  EXPECT_EQ(Read("MotorStepRev"), 300) << "the RAM setup starts as a copy of the EEPROM";
  EXPECT_EQ(Read("MotorAccel"), 1234);
  EXPECT_EQ(Read("MotorDecel"), 5000) << "registers never written keep their defaults";
  fs::remove(state);
}

TEST_F(Drive, RefusesADamagedStateFileAndLeavesItAlone) {
  struct Case {
    const char* what;
    const char* text;
  };
  const Case cases[] = {
      {"no section", "1102=0190\n"},
      {"bad register number", "[EEPROM]\n11x2=0190\n"},
      {"not hexadecimal", "[EEPROM]\n1102=01G0\n"},
      {"too many words", "[EEPROM]\n1102=0190 0001\n"},
      {"empty value", "[EEPROM]\n1102=\n"},
  };
  const std::string state = TempPath("damaged.state");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    { std::ofstream(state) << c.text; }
    EXPECT_THROW(Start(state), EkoException);
    std::ifstream in(state);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), c.text);
  }
  // An entry for a register this model does not keep in EEPROM is skipped with a warning.
  { std::ofstream(state) << "[EEPROM]\n1102=0190\n200=0001\n"; }
  Start(state);
  EXPECT_EQ(drive_->Warnings().size(), 1u);
  EXPECT_EQ(Read("MotorStepRev"), 0x190);
  EXPECT_EQ(Read("DriveState"), 0);
  fs::remove(state);
}

TEST_F(Drive, AnswersDeviceFailureWhenTheEepromCannotBeSaved) {
  Start((fs::path(TempPath("missing-dir")) / "eeprom.state").string());
  const uint16_t a = Addr("EEMotorStepRev");
  EXPECT_EQ(Send(Bytes({7, 0x06, a >> 8, a & 0xFF, 0, 100})).adu, Bytes({7, 0x86, 0x04}));
}

// Speed mode with ramps: 50 % of the 3000 rpm range at 5000 rpm/s.
TEST_F(Drive, RampsTheSpeedAndIntegratesThePosition) {
  Write("SpeedRef", 16384);
  EXPECT_EQ(Read("MotorSpeed", 500ms, true), 0) << "not enabled yet";
  Write("VirtualInput", 1, 1000ms);
  EXPECT_NEAR(Read("MotorSpeed", 1100ms, true), 500, 2);
  EXPECT_NE(Read("MotorCurr", 1100ms), 0);
  EXPECT_NEAR(Read("MotorSpeed", 2000ms, true), 1500, 1);
  // 0.3 s ramp (3.75 rev) and 0.7 s at 25 rev/s, 3200 microsteps a revolution.
  EXPECT_NEAR(ReadLong("ActualPosL", 2000ms), 68000, 700);
  const int state = Read("DriveState", 2000ms);
  EXPECT_EQ(state & 0x9, 0x9) << "speed loop active and motor powered";
  const int bus = Read("DcBusVolt", 2000ms);
  EXPECT_GT(bus, 3000);
  EXPECT_LT(bus, 3400);

  Write("SpeedRef", 0xC000, 2000ms);  // -50 %: through zero at the deceleration rate
  EXPECT_NEAR(Read("MotorSpeed", 2100ms, true), 1000, 2);
  EXPECT_NEAR(Read("MotorSpeed", 3000ms, true), -1500, 1);

  Write("VirtualInput", 0, 3000ms);
  EXPECT_EQ(Read("MotorSpeed", 4000ms, true), 0);
  EXPECT_EQ(Read("MotorCurr", 4000ms), 0);
  EXPECT_EQ(Read("DriveState", 4000ms) & 0x8, 0);
}

TEST_F(Drive, PositionsOnTheTargetWithThePacketProfile) {
  Write("Config", 0x0213 | 0x40);  // position mode
  Write("PosPktSpeed", 8192);      // 25 % of 3000 rpm
  WriteLong("PosPktTargetL", -10000);
  Write("VirtualInput", 1);
  EXPECT_EQ(Read("DriveState", 200ms) & 0x7, 0x7) << "profile running with both loops";
  EXPECT_LT(ReadLong("ActualPosL", 200ms), 0);
  EXPECT_EQ(ReadLong("ActualPosL", 3000ms), -10000);
  EXPECT_EQ(Read("MotorSpeed", 3000ms, true), 0);
  EXPECT_EQ(Read("DriveState", 3000ms) & 0x2, 0) << "profile completed";
}

TEST_F(Drive, CommandsActOnceAndClearThemselves) {
  Write("SpeedRef", 16384);
  Write("VirtualInput", 1);
  ASSERT_GT(ReadLong("ActualPosL", 1000ms), 1000);
  Write("ResetCounterCmd", 1, 1000ms);
  EXPECT_EQ(Read("ResetCounterCmd", 1000ms), 0);
  EXPECT_EQ(ReadLong("ActualPosL", 1000ms), 0);
  EXPECT_GT(ReadLong("ActualPosL", 1100ms), 0) << "counting goes on from zero";

  Write("ZeroingCmd", 1, 1100ms);
  EXPECT_EQ(Read("ZeroingCmd", 1100ms), 0);
  EXPECT_EQ(ReadLong("ActualPosL", 1100ms), 0);
  EXPECT_EQ(Read("VirtualInput", 1100ms), 1) << "the enable command stays";

  // With the synchronisation signal in use, a new target waits for the signal.
  Start();
  Write("Config", 0x0213 | 0x40 | 0x100);
  Write("PosPktSpeed", 8192);
  WriteLong("PosPktTargetL", 2000);
  Write("VirtualInput", 1);
  EXPECT_EQ(ReadLong("ActualPosL", 1000ms), 0);
  Write("SyncCmd", 1, 1000ms);
  EXPECT_EQ(Read("SyncCmd", 1000ms), 0);
  EXPECT_EQ(ReadLong("ActualPosL", 3000ms), 2000);
}

TEST_F(Drive, RaisesFaultsThatStopTheMotorUntilTheNextEnable) {
  ASSERT_TRUE(drive_->InjectFault("ActFault1", 3, nullptr));
  std::string error;
  EXPECT_FALSE(drive_->InjectFault("NoSuchRegister", 1, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(drive_->InjectFault("ActFault2", 16, &error));
  EXPECT_EQ(Read("ActFault1"), 8);
  EXPECT_EQ(Read("PreFault1"), 8);

  Write("SpeedRef", 16384);
  Write("Config", 0x0213);
  // The enable command acknowledges the fault; the previous faults keep it.
  Write("VirtualInput", 1, 100ms);
  EXPECT_EQ(Read("ActFault1", 200ms), 0);
  EXPECT_EQ(Read("PreFault1", 200ms), 8);
  EXPECT_EQ(Read("DriveState", 200ms) & 0x8, 0x8);

  // Running past the software limit raises its fault and takes the power off.
  WriteLong("PosMaxLimitL", 5000, 200ms);
  Write("Config", 0x0213 | 0x80, 200ms);
  EXPECT_EQ(Read("ActFault1", 1500ms), 1 << 12);
  EXPECT_EQ(Read("DriveState", 1500ms) & 0x8, 0);
  EXPECT_EQ(Read("PreFault1", 1500ms), 8 | 1 << 12);

  // Outside the limit, a new enable with the reference turned round drives it back in.
  Write("SpeedRef", 0xC000, 1500ms);
  Write("VirtualInput", 0, 1500ms);
  Write("VirtualInput", 1, 1600ms);
  EXPECT_EQ(Read("ActFault1", 1700ms), 0);
  EXPECT_EQ(Read("DriveState", 1700ms) & 0x8, 0x8);
  EXPECT_LT(Read("MotorSpeed", 1700ms, true), 0);
}

// The position counter wraps round at 32 bits and goes on counting.
TEST_F(Drive, ThePositionCounterWrapsRound) {
  Write("SpeedRef", 16384);  // 1500 rpm, 80000 microsteps a second
  Write("VirtualInput", 1);
  const auto late = std::chrono::hours(8);  // past 2^31 steps, short of 2^32
  const int32_t at = ReadLong("ActualPosL", late);
  EXPECT_NEAR(at, 80000.0 * 8 * 3600 - 4294967296.0, 50000.0);
  EXPECT_NEAR(ReadLong("ActualPosL", late + 1s) - static_cast<double>(at), 80000.0, 100.0);
}

// Enabled by the hardware input, closed since power-up: a fault set at start holds until
// the input opens and closes again.
TEST_F(Drive, AFaultAtPowerUpWaitsForANewEnable) {
  const std::string state = TempPath("hw-enable.state");
  { std::ofstream(state) << "[EEPROM]\n1100=0212\n"; }  // enable from the hardware input
  Start(state);
  ASSERT_TRUE(drive_->InjectFault("ActFault1", 3, nullptr));
  Write("SpeedRef", 16384);
  ASSERT_EQ(Read("Input") & 1, 1) << "the hardware enable is closed";
  EXPECT_EQ(Read("ActFault1", 500ms), 8);
  EXPECT_EQ(Read("DriveState", 500ms) & 0x8, 0) << "the fault keeps the motor off";

  Write("Input", 0x20, 500ms);
  Write("Input", 0x21, 600ms);
  EXPECT_EQ(Read("ActFault1", 700ms), 0);
  EXPECT_EQ(Read("DriveState", 700ms) & 0x8, 0x8);
  fs::remove(state);
}

// The drive is found through the model's parameter bindings, wherever a model puts it.
TEST_F(Drive, FollowsTheModelsBindingsWhereverTheyPointTo) {
  const std::string model = TempPath("bindings.par");
  {
    std::ofstream f(model);
    f << "[DataModel]\nMaxBufferSize=64\n"
         "[10]\nName=Ctl\nType=\"bool short\"\n"
         "[11]\nName=Ref\nType=\"signed short\"\nUseFormat=@Frac16\n"
         "[12]\nName=Rpm\nType=\"signed short\"\n"
         "[13]\nName=Range\nDfltValue=1000\n"
         "[Parameters]\n"
         "CfgCmdFromBus=\"Ctl,0,4\"\nCmdDriveEnable=\"Ctl,0,5\"\nParSpeedRef=\"Ref,,0\"\n"
         "ParS_MotorRPM=\"Rpm,0\"\nParSpeedRangeMax=\"Range,0\"\n";
  }
  Start("", model);
  Write("Ref", 16384);
  Write("Ctl", 0x10);
  EXPECT_EQ(Read("Rpm", 1s, true), 0) << "commands from the bus, but not enabled";
  Write("Ctl", 0x30, 1s);
  EXPECT_EQ(Read("Rpm", 2s, true), 500);
  fs::remove(model);
}

TEST(SimImage, RejectsUnusableModels) {
  EXPECT_THROW(vx::SimImage("/nonexistent/model.par"), EkoException);
  const std::string empty = TempPath("empty.par");
  { std::ofstream(empty) << "[Versions]\nVersions=VX310v2*\n"; }
  EXPECT_THROW(vx::SimImage{empty}, EkoException);
  fs::remove(empty);
}

}  // namespace
