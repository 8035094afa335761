// Where the terminal looks for its data models and its shipped settings.
#include "app/datapaths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "apptest.h"

namespace {

TEST(DataPathsTest, TheFirstFolderHoldingADataModelIsUsed) {
  vxtest::ScratchDir dir("datapaths");
  for (const char* f : {"start", "user", "prefix/share/vx310/models", "system/models"})
    std::filesystem::create_directories(dir.File(f));
  vx::DataPaths p;
  p.startDirectory = dir.File("start");  // without its trailing '/'
  p.userModels = dir.Path() + "user/";
  p.programData = dir.Path() + "prefix/share/vx310/";
  p.systemData = dir.Path() + "system/";
  EXPECT_EQ(p.ModelSearchPath(),
            (std::vector<std::string>{dir.Path() + "start/", p.userModels,
                                      p.programData + "models/", p.systemData + "models/"}));

  struct Case {
    const char* file;  // written before the case is checked, so the folders fill up
    const char* expected;
  } cases[] = {
      {nullptr, "start/"},                                // nowhere: the start directory
      {"system/models/readme.txt", "start/"},             // other files do not count
      {"system/models/VX310v220.par", "system/models/"},  // installed for the whole system
      {"prefix/share/vx310/models/a.PAR", "prefix/share/vx310/models/"},  // beside the program
      {"user/x.par", "user/"},                                            // the engineer's own
      {"start/notes.par.bak", "user/"},
      {"start/VX310v220.par", "start/"},  // where the terminal was started
  };
  for (const Case& c : cases) {
    if (c.file != nullptr) dir.Write(c.file, "[Versions]\n");
    SCOPED_TRACE(c.file ? c.file : "none");
    EXPECT_EQ(p.ModelFolder("par"), dir.Path() + c.expected);
  }

  // The same folder named twice is searched once; empty entries are skipped.
  p.userModels.clear();
  p.systemData = p.programData;
  EXPECT_EQ(p.ModelSearchPath(),
            (std::vector<std::string>{dir.Path() + "start/", p.programData + "models/"}));
}

TEST(DataPathsTest, ShippedSettingsBesideTheProgramComeFirst) {
  vxtest::ScratchDir dir("datapaths_ini");
  vx::DataPaths p;
  p.programData = dir.Path() + "prefix/";
  p.systemData = dir.Path() + "system/";
  EXPECT_EQ(p.ShippedSettings(), "");
  std::filesystem::create_directories(dir.File("system"));
  dir.Write("system/VX310_ConfigTerm.ini", "[AboutForm]\n");
  EXPECT_EQ(p.ShippedSettings(), p.systemData + "VX310_ConfigTerm.ini");
  std::filesystem::create_directories(dir.File("prefix"));
  dir.Write("prefix/VX310_ConfigTerm.ini", "[AboutForm]\n");
  EXPECT_EQ(p.ShippedSettings(), p.programData + "VX310_ConfigTerm.ini");
}

}  // namespace
