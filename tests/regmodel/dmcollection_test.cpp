#include "regmodel/dmcollection.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/koexception.h"
#include "regmodel/regdefinition.h"

namespace {

namespace fs = std::filesystem;

// A fresh directory of data-model files for each test.
class DMCollectionTest : public ::testing::Test {
 protected:
  DMCollectionTest() {
    char tmpl[] = "/tmp/vx_dmc_XXXXXX";
    dir = mkdtemp(tmpl);
    dmc.SetFilePath(dir);
  }
  ~DMCollectionTest() override { fs::remove_all(dir); }

  void Write(const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name, std::ios::binary) << text;
  }
  static std::string Model(const std::string& versions,
                           const std::string& regs = "[100]\nName=R\n") {
    return "[Versions]\nVersions=" + versions + "\nVerDescr=d " + versions + "\n" + regs;
  }

  std::string dir;
  TkoDMCollection dmc;
  TkoVersionRecord v220{"VX310v220"};
  TkoVersionRecord v221{"VX310v221"};
  TkoVersionRecord v100{"VX310v100"};
};

TEST_F(DMCollectionTest, FilePathGetsATrailingDelimiter) {
  TkoDMCollection fresh;
  EXPECT_EQ(fresh.FilePath(), fs::current_path().string() + "/");
  EXPECT_EQ(dmc.FilePath(), dir + "/");
  dmc.SetFilePath(dir + "/");
  EXPECT_EQ(dmc.FilePath(), dir + "/");
}

TEST_F(DMCollectionTest, PredefinedHoldsTheBuiltInFormatsAndDefinitions) {
  TkoTextResource* p = dmc.Predefined();
  EXPECT_TRUE(p->FindSection("@Frac16"));
  EXPECT_TRUE(p->FindSection("@ModBusBaudrate"));
  EXPECT_EQ(p->ReadString("@ModBusBaudrate", "Descr[0m0v3]", ""), "38400bps");
}

TEST_F(DMCollectionTest, FirstFileByNameWinsAndIsReused) {
  Write("b.par", Model("VX310v2*"));
  Write("a.par", Model("VX310v22*"));
  Write("c.txt", Model("VX310v2*"));
  std::string seen;
  dmc.OnVersion = [&](TkoDMCollection* s, const TkoVersionRecord* r, std::string&) {
    EXPECT_EQ(s, &dmc);
    seen = r->ToString();
  };
  TkoRegDefsList* first = dmc.FindRegDefsListFor(&v220);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->FileName, dir + "/a.par");
  EXPECT_EQ(seen, "VX310v220");
  EXPECT_TRUE(first->Built());
  EXPECT_EQ(first->Count(), 1);
  EXPECT_EQ(dmc.FindRegDefsListFor(&v221), first);
  EXPECT_EQ(dmc.Lists.size(), 1u);
  EXPECT_EQ(dmc.GetVersionFileName(&v221), dir + "/a.par");
  EXPECT_EQ(dmc.GetVersionDescription(&v220), "d VX310v22*");
}

TEST_F(DMCollectionTest, ListedFilesAreSortedRegularFilesWithTheExtension) {
  Write("z.par", "x");
  Write("m.PAR", "x");
  Write("a.par.bak", "x");
  Write("apar", "x");
  fs::create_directory(dir + "/d.par");
  EXPECT_EQ(dmc.ListModelFiles(), (std::vector<std::string>{"m.PAR", "z.par"}));
  dmc.FileExt.clear();
  EXPECT_TRUE(dmc.ListModelFiles().empty());
}

TEST_F(DMCollectionTest, ModelIsChainedToThePredefinedResource) {
  Write("a.par", Model("VX310v2*", "[101]\nName=Gain\nType=\"signed short\"\nUseFormat=@Frac16\n"));
  TkoRegDefsList* list = dmc.FindRegDefsListFor(&v220);
  ASSERT_NE(list, nullptr);
  const TkoRegDefinition* d = list->FindByName("Gain");
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->FormatNorm, 32768);
  EXPECT_EQ(d->FormatString, "#0.0###");
  EXPECT_EQ(d->UseFormat, "@Frac16");
}

TEST_F(DMCollectionTest, EmptyDirectoryIgnoresTheDefaultFile) {
  dmc.DfltFile = "dflt.dat";  // not a .par: the directory has no model file
  Write("dflt.dat", Model("VX999v1*"));
  int noVersion = 0;
  dmc.OnNoVersion = [&](TkoDMCollection*, const TkoVersionRecord*, std::string& name) {
    ++noVersion;
    EXPECT_EQ(name, "");
  };
  EXPECT_EQ(dmc.FindRegDefsListFor(&v220), nullptr);
  EXPECT_EQ(noVersion, 1);
  EXPECT_TRUE(dmc.Lists.empty());
}

TEST_F(DMCollectionTest, NoMatchLoadsTheDefaultFileWhateverItsVersions) {
  Write("a.par", Model("VX150v1*"));
  Write("dflt.dat", Model("VX999v1*"));
  dmc.DfltFile = "dflt.dat";
  TkoRegDefsList* list = dmc.FindRegDefsListFor(&v220);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->FileName, dir + "/dflt.dat");
  // Joined Lists, but later requests still match by its own "Versions".
  EXPECT_EQ(dmc.Lists.size(), 1u);
  // Every later device that falls back on the default file shares the same model.
  EXPECT_EQ(dmc.FindRegDefsListFor(&v220), list);
  EXPECT_EQ(dmc.FindRegDefsListFor(&v100), list);
  EXPECT_EQ(dmc.Lists.size(), 1u);
}

TEST_F(DMCollectionTest, NoVersionHandlerNamesTheFileToUse) {
  Write("a.par", Model("VX150v1*"));
  Write("other.txt", Model("VX999v9*"));
  dmc.OnNoVersion = [&](TkoDMCollection*, const TkoVersionRecord*, std::string& name) {
    name = dir + "/other.txt";
  };
  TkoRegDefsList* list = dmc.FindRegDefsListFor(&v100);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->FileName, dir + "/other.txt");
  EXPECT_TRUE(list->Built());
  EXPECT_EQ(dmc.Lists.size(), 1u);
  EXPECT_EQ(dmc.FindRegDefsListFor(&v100), list);
  EXPECT_EQ(dmc.Lists.size(), 1u);
}

TEST_F(DMCollectionTest, NoVersionHandlerThatGivesNothingUsable) {
  Write("a.par", Model("VX150v1*"));
  Write("empty.par.txt", "");
  std::string answer;
  dmc.OnNoVersion = [&](TkoDMCollection*, const TkoVersionRecord*, std::string& name) {
    name = answer;
  };
  EXPECT_EQ(dmc.FindRegDefsListFor(&v220), nullptr);  // left empty
  answer = dir + "/empty.par.txt";
  EXPECT_EQ(dmc.FindRegDefsListFor(&v220), nullptr);  // a file without content
  answer = dir + "/missing.par";
  EXPECT_THROW(dmc.FindRegDefsListFor(&v220), EkoException);
  EXPECT_TRUE(dmc.Lists.empty());
}

TEST_F(DMCollectionTest, SearchWithoutVersionLoadsTheDefaultFile) {
  Write("dflt.par", Model("VX1v1*"));
  dmc.DfltFile = "dflt.par";
  TkoDMCollection::Lookup l = dmc.GetRegDefsFor(nullptr);
  ASSERT_NE(l.Created, nullptr);
  EXPECT_EQ(l.Created->FileName, dir + "/dflt.par");
  EXPECT_EQ(l.Created->NextResource, dmc.Predefined());
  EXPECT_TRUE(dmc.Lists.empty());
}

TEST_F(DMCollectionTest, VersionCompatibility) {
  Write("a.par", Model("VX310v2*"));
  Write("b.par", Model("VX310v1*"));
  EXPECT_TRUE(dmc.AreVersionCompatible("VX310v220", "VX310v251"));
  EXPECT_FALSE(dmc.AreVersionCompatible("VX310v220", "VX310v100"));
  EXPECT_FALSE(dmc.AreVersionCompatible("VX410v220", "VX410v221"));  // no file at all
  EXPECT_TRUE(dmc.AreVersionCompatible(&v220, &v221));
}

TEST_F(DMCollectionTest, ExtractAllVersionList) {
  Write("a.par", Model("VX310v2*,VX310v3*"));
  Write("b.par", "[100]\nName=R\n");
  Write("a_file_with_a_rather_long_name.par", Model("VX1v1*"));
  std::vector<std::string> lines{"kept"};
  dmc.ExtractAllVersionList(&lines);
  const std::vector<std::string> want{
      "kept",
      "Searching path: " + dir + "/",
      "Searching ext.: *.par",
      "",
      "a.par                         =VX310v2*,VX310v3*",
      "a_file_with_a_rather_long_name.par=VX1v1*",
  };
  EXPECT_EQ(lines, want);
  dmc.ExtractAllVersionList(nullptr);  // nothing to fill: no crash
}

}  // namespace

// A data-model file that matches but does not load whole is named with the reason and
// passed over, whatever its place in the folder; with none left the version has no model.
class DamagedModelTest : public DMCollectionTest {
 protected:
  DamagedModelTest() {
    std::ifstream in(std::string(VX_SOURCE_DIR) + "/models/VX310v220.par", std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    shipped = all.str();
    dmc.NeedsOf = [](const TkoVersionRecord*) {
      return TkoDMCollection::Needs{{"ActState", "FaultState", "RamSetup", "EEPromSetup"}, true};
    };
    dmc.OnRejected = [this](TkoDMCollection*, const std::string& file, const std::string& why) {
      rejected.push_back(fs::path(file).filename().string() + ": " + why);
    };
  }
  // The shipped file up to (not including) the line that starts with `marker`.
  std::string CutBefore(const std::string& marker) const {
    const std::size_t at = shipped.find("\n" + marker);
    EXPECT_NE(at, std::string::npos) << marker;
    return shipped.substr(0, at + 1);
  }

  std::string shipped;
  std::vector<std::string> rejected;
};

TEST_F(DamagedModelTest, AFileThatDoesNotLoadWholeIsNamedAndPassedOver) {
  std::string noise(4096, '\0');
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 131 + 7) % 256);
  struct Case {
    const char* file;
    std::string text;
    std::string why;
  } cases[] = {
      {"a_half.par", shipped.substr(0, shipped.size() / 2), "is cut short: its last line"},
      {"b_random.par", "[Versions]\nVersions=VX310v2*\n" + noise, "is not a text file"},
      {"c_nofaults.par", CutBefore("[300]"),
       "its \"FaultState\" category names register 300, which has no definition"},
      {"d_noparams.par", CutBefore("[Parameters]"), "has no \"[Parameters]\" section"},
      {"e_nocategory.par", CutBefore("[Categories]") + "[100]\nName=R\n",
       "has no \"ActState\" category"},
  };
  for (const Case& c : cases) Write(c.file, c.text);
  // Alone, none of them is used and the version has no model.
  std::string noName;
  dmc.OnNoVersion = [&](TkoDMCollection*, const TkoVersionRecord*, std::string&) {
    noName = "asked";
  };
  EXPECT_EQ(dmc.FindRegDefsListFor(&v220), nullptr);
  EXPECT_EQ(noName, "asked");
  ASSERT_EQ(rejected.size(), std::size(cases));
  for (std::size_t i = 0; i < rejected.size(); ++i) {
    SCOPED_TRACE(cases[i].file);
    EXPECT_EQ(rejected[i].rfind(std::string(cases[i].file) + ": " + cases[i].why, 0), 0u)
        << rejected[i];
  }
  EXPECT_TRUE(dmc.Lists.empty());

  // A complete file sorting after them is found.
  rejected.clear();
  Write("z_complete.par", shipped);
  TkoRegDefsList* model = dmc.FindRegDefsListFor(&v220);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(fs::path(model->FileName).filename(), "z_complete.par");
  EXPECT_EQ(rejected.size(), std::size(cases));
  EXPECT_NE(model->FindByAddress(307), nullptr);
}

TEST_F(DamagedModelTest, AWholeFileWithoutFinalLineEndIsUsed) {
  // The last line complete, only its line end missing: that is how editors leave files.
  std::string text = shipped;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  Write("a.par", text);
  ASSERT_NE(dmc.FindRegDefsListFor(&v220), nullptr);
  EXPECT_TRUE(rejected.empty()) << rejected.front();
}
