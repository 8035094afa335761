// The connection as a whole through the supervisor, against the drive simulator on a bad
// line: a drive that falls silent and answers again, frames dropped or spoilt, the drive
// switched off and started again (the same one or another), the port vanishing, and a
// port that cannot be opened. Every loss and every return is told once; a drive that
// answers again is asked who it is; a port that vanished is reopened by itself.
#include <gtest/gtest.h>

#include <QAction>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransakinds.h"
#include "supervisorsim.h"

namespace {

using vxtest::Drive;
using vxtest::Line;
using S = TConnectionState;

const std::string kFound = "Device found. Communication running.";
const std::string kLost = "Device is not responding!";
const std::string kSetupRead = "Setup dowloaded, data refreshed.";

class Connection : public vxtest::SupervisorOnSim {
 protected:
  void Start(const Drive& d) {
    SupervisorOnSim::Start(d);
    // Counts the version requests the engine makes: each is enabled once, as its last
    // setting, after it is made.
    net->koMBNetwork()->OnNetSetupChange = [this](TkoMBNetwork*, TkoMBObject* o) {
      auto* t = dynamic_cast<TkoMBDeviceVersion*>(o);
      if (t == nullptr) return;
      if (t->GetEnabled() && !enabled[o]) ++versionRequests;
      enabled[o] = t->GetEnabled();
    };
    net->koMBNetwork()->OnNetSetupDel = [this, del = net->koMBNetwork()->OnNetSetupDel](
                                            TkoMBNetwork* n, TkoMBObject* o) {
      enabled.erase(o);
      if (del) del(n, o);
    };
  }
  // A fresh drive and connection on `line`, the counts of the last one forgotten.
  Drive Restart(Line line) {
    TearDown();
    states.clear();
    calls.clear();
    versionRequests = 0;
    Drive d;
    d.line = line;
    Start(d);
    return d;
  }
  std::map<TkoMBObject*, bool> enabled;
  TkoMBThread* Thread() { return net->koMBNetwork()->FindMBThread("COM1")->GetThread(); }
  bool Connected() { return State() == S::Connected && net->DeviceReady(); }

  int versionRequests = 0;
};

// A drive that falls silent is marked stale at the first unanswered exchange, its loss
// is logged once, and once it answers it is asked who it is, its values are read again
// and its return is logged once; the next silence is told again.
TEST_F(Connection, EverySilenceAndEveryReturnIsToldOnce) {
  for (Line line : {Line::kTcp, Line::kRtu}) {
    SCOPED_TRACE(vxtest::LineName(line));
    Restart(line);
    ASSERT_TRUE(ConnectAndWaitForSetup());
    ASSERT_TRUE(Pump([&] { return Connected(); }));
    TkoDeviceVX310* drive = net->Device();
    EXPECT_EQ(versionRequests, 1);
    for (int round = 1; round <= 2; ++round) {
      SCOPED_TRACE("silence " + std::to_string(round));
      const auto silent = std::chrono::steady_clock::now();
      sim->SetSilent(true);
      ASSERT_TRUE(Pump([&] { return State() == S::NotResponding; }));
      const auto stale = std::chrono::steady_clock::now();
      ASSERT_TRUE(Pump([&] { return Count(kLost) == round; }));
      const auto logged = std::chrono::steady_clock::now();
      EXPECT_EQ(State(), S::NotResponding);
      // Figures for a person, not checked: how soon the windows and the log knew.
      const auto ms = [&](auto t) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(t - silent).count();
      };
      std::printf("%s silence %d: stale mark after %lld ms, \"%s\" after %lld ms\n",
                  vxtest::LineName(line), round, static_cast<long long>(ms(stale)), kLost.c_str(),
                  static_cast<long long>(ms(logged)));
      sim->SetSilent(false);
      ASSERT_TRUE(Pump([&] { return Count(kFound) == round + 1 && Connected(); }))
          << form->Controls().Memo->toPlainText().toStdString();
      ASSERT_TRUE(Pump([&] { return Count(kSetupRead) == round + 1; }));
      EXPECT_EQ(versionRequests, round + 1) << "asked who it is";
      EXPECT_EQ(Count(kLost), round);
    }
    // The same drive goes on: nothing was rebuilt.
    EXPECT_EQ(net->Device(), drive);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "BuildPages"), 1);
    const std::vector<S> once = {S::Identifying, S::Connected,     S::NotResponding, S::Identifying,
                                 S::Connected,   S::NotResponding, S::Identifying,   S::Connected};
    EXPECT_EQ(states, once);
  }
}

// A frame lost now and then (its retry answered) or spoilt is no loss of the drive:
// nothing is logged, no transaction fails, and the connection ends up connected. Every
// stale mark on the way is taken back.
TEST_F(Connection, DroppedAndSpoiltFramesAreNoLoss) {
  struct Case {
    const char* name;
    uint64_t dropEvery;
    uint64_t corruptEvery;
  };
  const Case cases[] = {{"drop every 5", 5, 0}, {"corrupt every 7", 0, 7}};
  for (const Case& c : cases) {
    for (Line line : {Line::kTcp, Line::kRtu}) {
      SCOPED_TRACE(std::string(c.name) + " " + vxtest::LineName(line));
      TearDown();
      states.clear();
      actStates = 0;
      Drive d;
      d.line = line;
      d.dropEvery = c.dropEvery;
      d.corruptEvery = c.corruptEvery;
      Start(d);
      ASSERT_TRUE(ConnectAndWaitForSetup());
      ASSERT_TRUE(Pump([&] { return actStates >= 30; }));
      ASSERT_TRUE(Pump([&] { return Connected(); }));
      EXPECT_EQ(Count(kLost), 0);
      EXPECT_EQ(Count(kFound), 1);
      EXPECT_EQ(CountStarting("Transaction Error: "), 0);
      for (std::size_t i = 2; i < states.size(); ++i)
        EXPECT_NE(states[i], S::Identifying) << "a re-identification at change " << i;
    }
  }
}

// The drive switched off: the TCP peer goes, or the pseudo-terminal vanishes with its
// link. The loss is told, the port is reopened by itself with one line per try, and the
// drive started again is found, asked who it is and read again.
TEST_F(Connection, AVanishedPortIsReopenedWhenTheDriveIsBack) {
  for (Line line : {Line::kTcp, Line::kRtu}) {
    SCOPED_TRACE(vxtest::LineName(line));
    const Drive d = Restart(line);
    ASSERT_TRUE(ConnectAndWaitForSetup());
    TkoDeviceVX310* drive = net->Device();
    KillSim();
    ASSERT_TRUE(Pump([&] { return Count(kLost) == 1 && CountStarting("Port lost: COM1: ") == 1; }))
        << form->Controls().Memo->toPlainText().toStdString();
    EXPECT_EQ(State(), S::NotResponding);
    EXPECT_TRUE(Thread()->Reopening());
    // Tries that fail say why, naming the port.
    ASSERT_TRUE(Pump([&] { return CountStarting("Port COM1 not reopened (try 2): ") == 1; }));
    const std::string reason =
        line == Line::kTcp ? "Connection refused" : "No such file or directory";
    EXPECT_EQ(CountStarting("Port COM1 not reopened (try 1): "), 1);
    bool named = false;
    for (const std::string& l : Log())
      named |= l.rfind("Port COM1 not reopened (try 1): ", 0) == 0 &&
               l.find(reason) != std::string::npos;
    EXPECT_TRUE(named) << form->Controls().Memo->toPlainText().toStdString();

    RestartSim(d);
    ASSERT_TRUE(Pump([&] { return Count(kFound) == 2 && Connected(); }))
        << form->Controls().Memo->toPlainText().toStdString();
    EXPECT_EQ(CountStarting("Port COM1 reopened (try "), 1);
    ASSERT_TRUE(Pump([&] { return Count(kSetupRead) == 2; }));
    EXPECT_EQ(versionRequests, 2);
    EXPECT_EQ(net->Device(), drive);
    EXPECT_EQ(Count(kLost), 1);
    EXPECT_TRUE(dialogs.messages.empty());
  }
}

// Another drive where the first one was: it is a new connection. The windows let go of
// the old drive and are built anew, the setup changes not sent are kept in a file with
// a warning, and nothing goes to the new drive.
TEST_F(Connection, AnotherDriveIsANewConnectionAndUnsentChangesAreKeptAside) {
  Drive d;
  Start(d);
  ASSERT_TRUE(ConnectAndWaitForSetup());
  TkoDeviceVX310* old = net->Device();
  ASSERT_NE(old->ParPosWindow, nullptr);
  const double edited = old->ParPosWindow->GetValue() + 1;
  old->ParPosWindow->SetValue(edited);
  ASSERT_TRUE(old->HasLocalEdits());
  const int releasesBefore = releases;

  sim->SetSilent(true);
  ASSERT_TRUE(Pump([&] { return Count(kLost) == 1; }));
  Drive other = d;
  other.version = "VX310v230";
  RestartSim(other);
  ASSERT_TRUE(Pump([&] { return Count(kFound) == 2 && Connected(); }))
      << form->Controls().Memo->toPlainText().toStdString();
  ASSERT_NE(net->Device(), nullptr);
  EXPECT_EQ(net->Device()->GetVersion().ToString(), "VX310v230");
  EXPECT_GT(releases, releasesBefore);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "BuildPages"), 2);
  ASSERT_TRUE(Pump([&] { return Count(kSetupRead) == 2; }));

  std::vector<std::filesystem::path> kept;
  for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
    if (e.path().filename().string().rfind("unsent-VX310v220-", 0) == 0) kept.push_back(e.path());
  ASSERT_EQ(kept.size(), 1u);
  bool told = false;
  for (const std::string& l : Log())
    told |= l.rfind("The setup changes not sent were kept in \"", 0) == 0 &&
            l.find(kept[0].filename().string()) != std::string::npos;
  EXPECT_TRUE(told) << form->Controls().Memo->toPlainText().toStdString();
  // Nothing was sent: the new drive holds its own value, not the edited one.
  TkoDeviceVX310* now = net->Device();
  EXPECT_FALSE(now->HasLocalEdits());
  EXPECT_NE(now->ParPosWindow->GetValue(), edited);
}

// A port that cannot be opened: the log and the box say which port, which device path
// and why; the box is shown once the thread's hand-over is over, not inside it.
TEST_F(Connection, AConnectionErrorNamesThePortThePathAndTheReason) {
  Drive d;
  d.line = Line::kRtu;  // COM1 is a device path, moved to one that is not there
  Start(d);
  const std::string path = dir.File("no-such-port");
  vx::SetComPortPath(1, path);
  bool inHandOver = false;
  vx::Dialogs().Message = [&](QWidget*, const QString& text) {
    dialogs.messages.push_back(text.toStdString());
    TkoMBThreadSetup* conn = net->koMBNetwork()->FindMBThread("COM1");
    inHandOver |= conn && conn->GetThread() && conn->GetThread()->InHandOver();
  };
  form->acOpenConnection->trigger();
  ASSERT_TRUE(Pump([&] { return !dialogs.messages.empty(); }));
  const std::string reason = "COM1 " + path + ": No such file or directory";
  EXPECT_TRUE(Logged("Connection error!"));
  EXPECT_TRUE(Logged(reason)) << form->Controls().Memo->toPlainText().toStdString();
  EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Connection error!\n\r" + reason}));
  EXPECT_FALSE(inHandOver);
  EXPECT_EQ(State(), S::Offline);
}

}  // namespace
