// Setup files: what an export writes, that an import gives the values back, and that a
// malformed, foreign or unreadable file is reported and changes nothing it should not.
#include "config/setupfile.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "paramui/uierror.h"
#include "platform/koexception.h"
#include "regmodel/numberformat.h"
#include "setupkit.h"
#include "xml/koxmlparser.h"

namespace {

using vxtest::OfflineDrive;
using vxtest::ScratchDir;
using vxtest::SetupWindowTest;

// The file's lines without their CR LF; fails when a line lacks it.
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "line without CR LF at " << pos;
    if (end == std::string::npos) break;
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// The register texts of the addresses from..to.
std::string Texts(TkoDeviceVX310& d, int from, int to) {
  TkoTextResource r;
  for (int a = from; a <= to; ++a)
    if (TkoRegister* reg = d.RegisterAt(static_cast<uint16_t>(a))) reg->SaveToResource("S", &r);
  return r.Text();
}

bool Contains(const std::vector<std::string>& log, const std::string& line) {
  return std::find(log.begin(), log.end(), line) != log.end();
}

class SetupFileTest : public SetupWindowTest {
 protected:
  SetupFileTest() {
    form.SetSettingsFile(dir.File("VX310_ConfigTerm.ini"));
    form.AskFileName = [this](bool save) {
      asked.push_back(save);
      return QString::fromStdString(answer);
    };
    previousHandler = vx::SetUiErrorHandler([this](const std::string& m) { errors.push_back(m); });
    form.BuildPages();
  }
  ~SetupFileTest() override { vx::SetUiErrorHandler(previousHandler); }
  // Runs an action as the tool bar does: errors go to the handler.
  void Trigger(QAction* action) { action->trigger(); }

  ScratchDir dir{"setupfile"};
  std::string answer;
  std::vector<bool> asked;
  std::vector<std::string> errors;
  vx::UiErrorHandler previousHandler;
};

TEST_F(SetupFileTest, ExportWritesTheHeaderThenTheRegistersLastFirst) {
  dir.Write("VX310_ConfigTerm.ini",
            "[AboutForm]\r\nVersion=2.21\r\nCompany=Test Works\r\nApplication=Bench\r\n");
  D().ParMotorAccel->SetValue(1234);
  answer = dir.File("out.310");
  Trigger(form.acExport);
  ASSERT_EQ(asked, std::vector<bool>{true});
  EXPECT_EQ(log, (std::vector<std::string>{"Export setup to file: " + answer, "Setup exported!"}));

  const std::vector<std::string> lines = CrLfLines(dir.Read("out.310"));
  ASSERT_GE(lines.size(), 8u);
  // The Web key is missing from the settings: the maker's address stands in. The drive
  // the setup comes from closes the header.
  const std::vector<std::string> header(lines.begin(), lines.begin() + 7);
  EXPECT_EQ(header, (std::vector<std::string>{
                        "[Header]", "Version=\"2.21\"", "Owner=\"Bench\"", "Company=\"Test Works\"",
                        std::string("Web=\"") + TkoXmlParser::kMakerWeb + "\"",
                        "Drive=\"VX310v220\"", "[VX310_Setup]"}));
  // "ImportExport" is 100/137: written 100 first, so the file starts with 137.
  std::vector<std::string> names;
  for (std::size_t i = 7; i < lines.size(); ++i)
    names.push_back(lines[i].substr(0, lines[i].find('=')));
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), D().RegisterAt(137)->Name());
  EXPECT_EQ(names.back(), D().RegisterAt(100)->Name());
  EXPECT_TRUE(Contains(lines, "MotorAccel=\"\"1234\"\""));
  EXPECT_FALSE(Contains(names, "CurrRangeMax")) << "outside the category";
}

TEST_F(SetupFileTest, TheChainOrderDecidesTheLineOrder) {
  // With two blocks the chain holds them in reverse text order: 200, then 100..102.
  TkoRegDefsList& model = drive.Model();
  ASSERT_TRUE(model.FindKey("Categories", "ImportExport"));
  model.SetLine(model.CurrentLine, "ImportExport=\"100/102,200\"");
  vx::SetupFileHeader header;
  vx::ExportSetupFile(D(), header, dir.File("order.310"));
  const std::vector<std::string> lines = CrLfLines(dir.Read("order.310"));
  std::vector<std::string> names;
  bool inSetup = false;
  for (const std::string& l : lines) {
    if (l == "[VX310_Setup]") {
      inSetup = true;
      continue;
    }
    if (inSetup) names.push_back(l.substr(0, l.find('=')));
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{D().RegisterAt(102)->Name(), D().RegisterAt(101)->Name(),
                                      D().RegisterAt(100)->Name(), D().RegisterAt(200)->Name()}));
}

TEST_F(SetupFileTest, ExportThenImportGivesTheValuesBack) {
  D().ParMotorAccel->SetValue(1234);
  D().ParMotorDecel->SetValue(4321);
  D().CfgRefSource->SetField(2);
  D().ParPosPktTarget->SetValue(-70000);
  D().ParCyclicRx2->SetValue(125);
  answer = dir.File("round.310");
  Trigger(form.acExport);
  ASSERT_TRUE(errors.empty()) << errors.front();
  // Without a settings file the header has its defaults.
  const std::vector<std::string> lines = CrLfLines(dir.Read("round.310"));
  EXPECT_TRUE(Contains(lines, "Owner=\" VX310 Configuration Terminal\""));
  EXPECT_TRUE(Contains(lines, "Version=\"2.20\""));

  OfflineDrive other;
  // The window of the other drive sets the CAN selectors' limits, as it does on every
  // identification; without them a frame selection is clamped to 0.
  TSetupForm otherForm;
  otherForm.Device = [&other]() -> TkoDeviceVX310* { return &other.Drive(); };
  otherForm.BuildPages();
  const std::string outside = Texts(other.Drive(), 138, 1200);
  const vx::SetupImport result = vx::ImportSetupFile(other.Drive(), answer);
  EXPECT_TRUE(result.HasSetup);
  EXPECT_TRUE(result.Skipped.empty());
  EXPECT_EQ(result.Loaded, 38);
  EXPECT_EQ(Texts(other.Drive(), 100, 137), Texts(D(), 100, 137));
  EXPECT_EQ(Texts(other.Drive(), 138, 1200), outside);
  EXPECT_EQ(other.Drive().GetSetupState(), TkoDeviceVXSlave::ssModified)
      << "imported values wait for Send or Save";
}

TEST_F(SetupFileTest, ImportReportsItsSourceAndWhatItLeftOut) {
  const double accel = D().ParMotorAccel->GetValue();
  const double range = D().ParCurrRangeMax->GetValue();
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> expectedLog;  // after the file name line
  } cases[] = {
      {"known keys, no owner",
       "[Header]\r\nVersion=\"9.9\"\r\n[VX310_Setup]\r\nMotorDecel=\"\"777\"\"\r\n",
       {" -> Creator: - unknown -", " -> Version: 9.9",
        "Setup imported! Please verify before send or save it."}},
      {"foreign file",
       "[Paint]\r\nColour=red\r\n",
       {" -> Creator: - unknown -", " -> Version: - unknown -",
        "No \"VX310_Setup\" section in the file: nothing imported."}},
      {"names outside the category and unknown",
       "[Header]\r\nOwner=\"Someone\"\r\n[VX310_Setup]\r\nCurrRangeMax=\"\"1\"\"\r\n"
       "NoSuchRegister=\"\"5\"\"\r\n",
       {" -> Creator: Someone", " -> Version: - unknown -",
        " -> The file names registers this drive has not got: it comes from another drive "
        "model.",
        " -> 0 value(s) imported, 2 ignored: CurrRangeMax (Excluded!), NoSuchRegister "
        "(UNKNOWN!)",
        "Setup imported! Please verify before send or save it."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.Write("in.310", c.text);
    answer = dir.File("in.310");
    log.clear();
    Trigger(form.acImport);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "Import setup from file: " + answer);
    EXPECT_EQ(std::vector<std::string>(log.begin() + 1, log.end()), c.expectedLog);
    EXPECT_DOUBLE_EQ(D().ParMotorAccel->GetValue(), accel) << "not in any of the files";
    EXPECT_DOUBLE_EQ(D().ParCurrRangeMax->GetValue(), range) << "outside the category";
  }
  EXPECT_DOUBLE_EQ(D().ParMotorDecel->GetValue(), 777);
  EXPECT_TRUE(errors.empty());
}

// A file of another drive model: the import says so and names every value it could not
// take as written, with the file's value and the value kept.
TEST_F(SetupFileTest, ImportNamesEveryValueItClampedOrCouldNotTake) {
  dir.Write("vx150.310",
            "[Header]\r\nOwner=\"Bench\"\r\nDrive=\"VX150v110\"\r\n[VX310_Setup]\r\n"
            "MotorStepRev=\"\"5000\"\"\r\nMotorIpA=\"\"250\"\"\r\nMotorAccel=\"\"fast\"\"\r\n"
            "MotorStepDiv=\"\"0\"\"\r\nMotorDecel=\"\"777\"\"\r\n");
  answer = dir.File("vx150.310");
  Trigger(form.acImport);
  const auto line = [&](TkoParValue* par, const std::string& file, const char* why) {
    const TkoRegister* reg = par->Register;
    return "    " + reg->Definition()->GetDescr(-1, 0) + " (" + reg->Name() + "): file " + file +
           ", kept " + par->GetValueString() + " (" + why + ")";
  };
  const auto shown = [](TkoParValue* par, double v) {
    return vx::FormatFloat(par->Register->Definition()->FormatString, v);
  };
  EXPECT_EQ(
      log,
      (std::vector<std::string>{
          "Import setup from file: " + answer, " -> Creator: Bench", " -> Version: - unknown -",
          " -> The file was written for another drive model: VX150v110 (this drive: "
          "VX310v220).",
          " -> 4 value(s) not taken as written:",
          line(D().ParMotorStepRev, shown(D().ParMotorStepRev, 5000), "above the maximum"),
          line(D().ParMotorIpA, shown(D().ParMotorIpA, 25.0), "above the maximum"),
          line(D().ParMotorAccel, "fast", "not a number, default kept"),
          line(D().ParMotorStepDiv, shown(D().ParMotorStepDiv, 0), "below the minimum"),
          "Setup imported! Please verify before send or save it."}));
  EXPECT_DOUBLE_EQ(D().ParMotorStepRev->GetValue(), 1000);
  EXPECT_DOUBLE_EQ(D().ParMotorIpA->GetValue(), 8.0);
  EXPECT_DOUBLE_EQ(D().ParMotorDecel->GetValue(), 777) << "taken as written: not named";

  // A file of this drive's model, every value within its limits: nothing more to say.
  log.clear();
  answer = dir.File("own.310");
  Trigger(form.acExport);
  log.clear();
  Trigger(form.acImport);
  EXPECT_EQ(log,
            (std::vector<std::string>{
                "Import setup from file: " + answer, " -> Creator: VX310 Configuration Terminal",
                " -> Version: 2.20", "Setup imported! Please verify before send or save it."}));
}

TEST_F(SetupFileTest, AValueThatDoesNotParseFallsBackToTheDefault) {
  D().ParMotorAccel->SetValue(1234);
  dir.Write("bad.310", "[VX310_Setup]\r\nMotorAccel=\"\"fast\"\"\r\n");
  const vx::SetupImport result = vx::ImportSetupFile(D(), dir.File("bad.310"));
  EXPECT_DOUBLE_EQ(D().ParMotorAccel->GetValue(), D().ParMotorAccel->GetDflt());
  EXPECT_EQ(result.Loaded, 1);
}

TEST_F(SetupFileTest, AFileThatCannotBeReadOrWrittenIsReportedAndChangesNothing) {
  const std::string before = drive.Snapshot();
  answer = dir.File("missing.310");
  Trigger(form.acImport);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("missing.310"), std::string::npos) << errors[0];
  EXPECT_FALSE(Contains(log, "Setup imported! Please verify before send or save it."));
  EXPECT_EQ(drive.Snapshot(), before);

  errors.clear();
  log.clear();
  answer = dir.File("no_such_folder/out.310");
  Trigger(form.acExport);
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_FALSE(Contains(log, "Setup exported!"));
  EXPECT_FALSE(std::filesystem::exists(answer));
}

TEST_F(SetupFileTest, CancelledChoosersDoNothing) {
  const std::string before = drive.Snapshot();
  answer.clear();
  Trigger(form.acExport);
  Trigger(form.acImport);
  EXPECT_EQ(asked, (std::vector<bool>{true, false}));
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(drive.Snapshot(), before);
}

}  // namespace
