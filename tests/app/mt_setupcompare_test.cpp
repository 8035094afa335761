// The setup window's comparisons on the whole terminal against the drive simulator served
// from a thread of this process over Modbus TCP: a setup file or the drive's own setup
// read afresh, beside the values the window holds, which stay as they are. The test
// thread plays the user-interface thread.
//
// With VX_SHOT_DIR set, the comparison dialog is saved there with differences and without.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTreeWidget>
#include <string>
#include <vector>

#include "app/comparedlg.h"
#include "app/mainwin.h"
#include "app/modulenetwork.h"
#include "app/setupwin.h"
#include "app/startup.h"
#include "apptest.h"
#include "config/setupfile.h"
#include "devices/vx310.h"
#include "modbus/mbtransakinds.h"
#include "paramui/parrows.h"
#include "paramui/textcodec.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"
#include "terminalsim.h"

namespace {

class CompareOnSim : public vxtest::TerminalOnSim<> {
 protected:
  CompareOnSim() : TerminalOnSim("setupcompare") {}
  void SetUp() override {
    StartTerminal();
    Setup()->AskFileName = [this](bool) { return QString::fromStdString(chosen); };
    windows->MainForm()->acOpenConnection->trigger();
    // Connected, the setup read, and the read that showing the setup window starts.
    ASSERT_TRUE(Pump([&] {
      TkoDeviceVX310* d = Drive();
      return d != nullptr && d->GetSetupState() == TkoDeviceVXSlave::ssInStep &&
             Setup()->isVisible() && !d->ReadRamSetup->GetEnabled() && !d->ReadRamSetup->GetBusy();
    }));
  }
  void TearDown() override { StopTerminal(); }

  TSetupForm* Setup() const { return windows->SetupForm(); }
  TkoDeviceVX310* Drive() const { return windows->Network()->Device(); }
  // A register's value in a setup file, as an export writes it.
  void SetFileValue(const std::string& file, const std::string& key, int value) {
    TkoTextResource r(file);
    r.WriteString(vx::kSetupSection, key, "\"" + std::to_string(value) + "\"");
    r.SaveToFile(file);
  }
  std::string Export(const char* name) {
    const std::string file = dir.File(name);
    vx::ExportSetupFile(*Drive(), vx::SetupFileHeader{}, file);
    return file;
  }
  // The rows of the comparison shown last: name (in brackets after the description),
  // the window's value, the other's.
  struct Row {
    std::string name, window, other;
    bool operator==(const Row&) const = default;
  };
  std::vector<Row> Rows() const {
    std::vector<Row> rows;
    const QTableWidget* t = Setup()->CompareDialog()->Table();
    for (int r = 0; r < t->rowCount(); ++r) {
      const std::string name = t->item(r, 0)->text().toStdString();
      const std::size_t open = name.rfind(" (");
      rows.push_back(
          {open == std::string::npos ? name : name.substr(open + 2, name.size() - open - 3),
           t->item(r, 1)->text().toStdString(), t->item(r, 2)->text().toStdString()});
    }
    return rows;
  }
  // The value the setup window's page shows for the parameter.
  std::string PageCell(const TkoParValue* par) const {
    for (QTreeWidget* list : Setup()->findChildren<QTreeWidget*>())
      for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (vx::RowPar(list->topLevelItem(i)) == par)
          return list->topLevelItem(i)->text(1).toStdString();
    return "(no row)";
  }

  static std::string Digits(const std::string& text) {
    std::string digits;
    for (char c : text)
      if (c >= '0' && c <= '9') digits += c;
    return digits;
  }

  std::string chosen;
};

TEST_F(CompareOnSim, WithAFileListsExactlyTheValuesThatDiffer) {
  TkoDeviceVX310* d = Drive();
  const std::string same = Export("same.310");
  chosen = same;
  Setup()->acCompareFile->trigger();
  ASSERT_NE(Setup()->CompareDialog(), nullptr);
  TCompareDialog* dialog = Setup()->CompareDialog();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->Outcome()->text(), "No differences");
  EXPECT_FALSE(dialog->Table()->isVisibleTo(dialog));
  vxtest::SaveShot(*dialog, "compare_none");

  const std::string file = Export("changed.310");
  const int accel = d->FindRegister("MotorAccel")->GetValueInteger(0);
  const int decel = d->FindRegister("MotorDecel")->GetValueInteger(0);
  SetFileValue(file, "MotorAccel", accel + 1000);
  SetFileValue(file, "MotorDecel", decel + 500);
  const std::string accelText = d->ParMotorAccel->GetValueString();
  const std::string decelText = d->ParMotorDecel->GetValueString();
  chosen = file;
  Setup()->acCompareFile->trigger();
  ASSERT_EQ(Setup()->CompareDialog(), dialog) << "one dialog, its content replaced";
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].name, "ParMotorAccel");
  EXPECT_EQ(rows[0].window, accelText);
  EXPECT_NE(rows[0].other, accelText);
  EXPECT_EQ(Digits(rows[0].other), std::to_string(accel + 1000)) << rows[0].other;
  EXPECT_EQ(rows[1].name, "ParMotorDecel");
  EXPECT_EQ(rows[1].window, decelText);
  EXPECT_EQ(dialog->Outcome()->text(), "2 differences");
  EXPECT_EQ(dialog->Table()->horizontalHeaderItem(2)->text(), "File");
  EXPECT_NE(dialog->Heading()->text().toStdString().find(file), std::string::npos);
  vxtest::SaveShot(*dialog, "compare_file");

  // The window and the drive object keep their values; nothing is marked changed.
  EXPECT_EQ(d->ParMotorAccel->GetValueString(), accelText);
  EXPECT_EQ(d->GetSetupState(), TkoDeviceVXSlave::ssInStep);
  EXPECT_FALSE(d->HasLocalEdits());

  // Copy: the heading, the captions, one tab-separated line a row.
  dialog->CopyButton()->click();
  const QStringList copied = QApplication::clipboard()->text().split(QLatin1Char('\n'));
  ASSERT_GE(copied.size(), 4);
  EXPECT_EQ(copied[0], dialog->Heading()->text());
  EXPECT_EQ(copied[1], "Parameter\tWindow\tFile");
  EXPECT_EQ(copied[2].split(QLatin1Char('\t')).size(), 3);
  EXPECT_TRUE(copied[2].contains("ParMotorAccel"));
}

TEST_F(CompareOnSim, WithTheDriveListsTheEditAndKeepsIt) {
  TkoDeviceVX310* d = Drive();
  const std::string driveText = d->ParMotorAccel->GetValueString();
  d->ParMotorAccel->SetValueString(
      std::to_string(static_cast<int>(d->ParMotorAccel->GetValue()) + 777));
  Setup()->RefreshData();
  const std::string edited = d->ParMotorAccel->GetValueString();
  ASSERT_NE(edited, driveText);
  ASSERT_EQ(PageCell(d->ParMotorAccel), edited);

  Setup()->acCompareDrive->trigger();
  ASSERT_NE(Setup()->CompareDialog(), nullptr);
  EXPECT_EQ(Rows(), (std::vector<Row>{{"ParMotorAccel", edited, driveText}}));
  EXPECT_EQ(Setup()->CompareDialog()->Table()->horizontalHeaderItem(2)->text(), "Drive");
  vxtest::SaveShot(*Setup()->CompareDialog(), "compare_drive");

  // The edit is still the window's, still to be sent.
  EXPECT_EQ(d->ParMotorAccel->GetValueString(), edited);
  EXPECT_EQ(PageCell(d->ParMotorAccel), edited);
  EXPECT_EQ(d->GetSetupState(), TkoDeviceVXSlave::ssModified);
  EXPECT_TRUE(d->HasLocalEdits());
  EXPECT_TRUE(dialogs.messages.empty()) << dialogs.messages.front();
}

TEST_F(CompareOnSim, FilesThatCannotBeComparedAreRefusedWithWhy) {
  const std::string good = Export("good.310");
  TkoTextResource text(good);
  dir.Write("foreign.310", "[Header]\r\nDrive=\"VX150v110\"\r\n" +
                               text.Text().substr(text.Text().find("[VX310_Setup]")));
  dir.Write("nosetup.310", "[Header]\r\nOwner=\"someone\"\r\n");
  const struct {
    std::string file;
    std::string message;
  } cases[] = {
      {dir.File("missing.310"), "The file cannot be read: "},
      {dir.File("nosetup.310"),
       "The file has no \"VX310_Setup\" section: it is no setup file.\n\rNothing compared."},
      {dir.File("foreign.310"),
       "The file was written for another drive model: VX150v110 (this drive: VX310v220).\n\r"
       "Nothing compared."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    dialogs.messages.clear();
    chosen = c.file;
    Setup()->acCompareFile->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].substr(0, c.message.size()), c.message);
    EXPECT_EQ(Setup()->CompareDialog(), nullptr) << "nothing shown as a comparison";
  }
  // A cancelled chooser does nothing at all.
  dialogs.messages.clear();
  chosen.clear();
  Setup()->acCompareFile->trigger();
  EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CompareOnSim, ADriveThatDoesNotAnswerIsToldAndTheWindowKeepsItsValues) {
  TkoDeviceVX310* d = Drive();
  d->ParMotorAccel->SetValueString(
      std::to_string(static_cast<int>(d->ParMotorAccel->GetValue()) + 1));
  const std::string edited = d->ParMotorAccel->GetValueString();
  sim.reset();
  Setup()->acCompareDrive->trigger();
  ASSERT_EQ(dialogs.messages.size(), 1u);
  const std::string& m = dialogs.messages[0];
  EXPECT_TRUE(m.rfind("The drive is not connected or does not answer", 0) == 0 ||
              m.rfind("The drive's setup could not be read: ", 0) == 0)
      << m;
  EXPECT_NE(m.find("Nothing compared."), std::string::npos);
  EXPECT_EQ(Setup()->CompareDialog(), nullptr);
  ASSERT_EQ(Drive(), d);
  EXPECT_EQ(d->ParMotorAccel->GetValueString(), edited);

  // Disconnected (the edit given up): no drive object, nothing to compare.
  dialogs.yes = true;
  windows->MainForm()->acCloseConnection->trigger();
  ASSERT_EQ(Drive(), nullptr);
  Setup()->UpdateActions();
  EXPECT_FALSE(Setup()->acCompareDrive->isEnabled());
  EXPECT_FALSE(Setup()->acCompareFile->isEnabled());
}

}  // namespace
