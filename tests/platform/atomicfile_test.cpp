#include "platform/atomicfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("atomicfile_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Every name in the folder; a leftover temporary file shows here.
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.push_back(e.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir_;
};

TEST_F(AtomicFile, ReplacesTheFileAndLeavesNothingElse) {
  const fs::path p = dir_ / "setup.310";
  std::ofstream(p) << "old content that is longer than the new";
  const std::string bytes("new\r\n\xB0\0end", 10);
  const char* step = "untouched";
  ASSERT_EQ(vx::WriteFileAtomically(p.string(), bytes, &step), 0);
  EXPECT_EQ(Read(p), bytes);
  EXPECT_EQ(Names(), std::vector<std::string>{"setup.310"});
  // Readable as any file the user writes, not private like a fresh temporary file.
  struct stat st {};
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  const mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST_F(AtomicFile, FailuresNameTheStepAndKeepTheTarget) {
  struct Case {
    const char* what;
    fs::path path;
    const char* step;
  } cases[] = {
      {"missing folder", dir_ / "missing" / "x.310", "create"},
      // A non-empty folder cannot be replaced by a file: the temporary file must go again.
      {"target is a folder", dir_ / "busy", "replace"},
  };
  fs::create_directories(dir_ / "busy");
  std::ofstream(dir_ / "busy" / "inside") << "keep";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const char* step = nullptr;
    EXPECT_NE(vx::WriteFileAtomically(c.path.string(), "data", &step), 0);
    ASSERT_NE(step, nullptr);
    EXPECT_STREQ(step, c.step);
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"busy"});
  EXPECT_EQ(Read(dir_ / "busy" / "inside"), "keep");
}

}  // namespace
