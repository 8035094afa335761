#include "platform/atomicfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
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

// The umask of the process for the test's span; the old one comes back after.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }

 private:
  mode_t old_;
};

mode_t ModeOf(const fs::path& p) {
  struct stat st {};
  EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
  return st.st_mode & 07777;
}

TEST_F(AtomicFile, AReplacedFileKeepsItsModeAndANewOneFollowsTheUmask) {
  const ScopedUmask mask(027);
  const fs::path kept = dir_ / "private.ini";
  std::ofstream(kept) << "old";
  fs::permissions(kept, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_EQ(vx::WriteFileAtomically(kept.string(), "new"), 0);
  EXPECT_EQ(Read(kept), "new");
  EXPECT_EQ(ModeOf(kept), 0600u);

  const fs::path shared = dir_ / "shared.ini";
  std::ofstream(shared) << "old";
  fs::permissions(shared, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
  ASSERT_EQ(vx::WriteFileAtomically(shared.string(), "new"), 0);
  EXPECT_EQ(ModeOf(shared), 0744u);

  const fs::path fresh = dir_ / "fresh.ini";
  ASSERT_EQ(vx::WriteFileAtomically(fresh.string(), "new"), 0);
  EXPECT_EQ(ModeOf(fresh), 0640u);
  // The writer never changed the umask, not even for a moment that it set back.
  EXPECT_EQ(::umask(027), 027u);
}

TEST_F(AtomicFile, ALinkIsWrittenThroughToItsTargetAndStaysALink) {
  fs::create_directories(dir_ / "real");
  const fs::path target = dir_ / "real" / "VX310_ConfigTerm.ini";
  std::ofstream(target) << "old";
  struct Case {
    const char* what;
    fs::path link;
    fs::path to;
  } cases[] = {
      {"relative link", dir_ / "relative.ini", "real/VX310_ConfigTerm.ini"},
      {"absolute link", dir_ / "absolute.ini", target},
      {"link to a link", dir_ / "chain.ini", "relative.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::create_symlink(c.to, c.link);
    const std::string text = std::string("through ") + c.what;
    ASSERT_EQ(vx::WriteFileAtomically(c.link.string(), text), 0);
    EXPECT_TRUE(fs::is_symlink(c.link));
    EXPECT_EQ(Read(target), text);
  }
  // No temporary file is left beside the target or the links.
  EXPECT_EQ(Names(),
            (std::vector<std::string>{"absolute.ini", "chain.ini", "real", "relative.ini"}));

  // A link whose target does not exist yet makes the target, not a file in its place.
  const fs::path dangling = dir_ / "dangling.ini";
  fs::create_symlink("real/later.ini", dangling);
  ASSERT_EQ(vx::WriteFileAtomically(dangling.string(), "later"), 0);
  EXPECT_TRUE(fs::is_symlink(dangling));
  EXPECT_EQ(Read(dir_ / "real" / "later.ini"), "later");

  // A loop of links is an error, not a hang; nothing is written.
  fs::create_symlink("loop_b", dir_ / "loop_a");
  fs::create_symlink("loop_a", dir_ / "loop_b");
  const char* step = nullptr;
  EXPECT_EQ(vx::WriteFileAtomically((dir_ / "loop_a").string(), "x", &step), ELOOP);
  EXPECT_STREQ(step, "create");
}

}  // namespace

// A file its owner made read-only stays byte for byte and mode for mode, whoever runs the
// program (the superuser's rename would replace it); a writable one keeps its mode.
TEST_F(AtomicFile, KeepsReadOnlyFilesAndTheModeOfReplacedOnes) {
  struct Case {
    const char* what;
    mode_t mode;
    bool replaced;
  } cases[] = {
      {"read-only", 0444, false}, {"private", 0600, true}, {"owner read-only", 0464, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path p = dir_ / "VX310_ConfigTerm.ini";
    fs::remove(p);
    std::ofstream(p) << "[Setup]\r\nLastPort=3\r\n";
    ASSERT_EQ(::chmod(p.c_str(), c.mode), 0);
    const char* step = nullptr;
    const int err = vx::WriteFileAtomically(p.string(), "[Setup]\r\nLastPort=1\r\n", &step);
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.mode);
    if (c.replaced) {
      EXPECT_EQ(err, 0);
      EXPECT_EQ(Read(p), "[Setup]\r\nLastPort=1\r\n");
    } else {
      EXPECT_EQ(err, EACCES);
      ASSERT_NE(step, nullptr);
      EXPECT_STREQ(step, "read-only");
      EXPECT_EQ(Read(p), "[Setup]\r\nLastPort=3\r\n");
      EXPECT_TRUE(vx::IsReadOnlyFile(p.string()));
    }
    EXPECT_EQ(Names(), std::vector<std::string>{"VX310_ConfigTerm.ini"});
    ::chmod(p.c_str(), 0644);
  }
}
