#pragma once
// Helpers of the device tests: small data models, a scratch folder of data-model files
// unique to the test process, and a recorder of engine notifications.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "modbus/mbseams.h"
#include "regmodel/regdefslist.h"

namespace vxtest {

// A data model built from the text of a .par file.
inline std::unique_ptr<TkoRegDefsList> ModelFromText(const std::string& text) {
  auto list = std::make_unique<TkoRegDefsList>();
  list->SetText(text);
  list->BuildDefinitions();
  return list;
}

// A folder of its own for each test process and name, removed with the object.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& name)
      : path_(std::filesystem::path(::testing::TempDir()) /
              (name + "_" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path() const { return path_.string() + "/"; }
  void Write(const std::string& file, const std::string& text) const {
    std::ofstream(path_ / file, std::ios::binary) << text;
  }

 private:
  std::filesystem::path path_;
};

// One line per notification: "<who>:<what>".
struct EventLog {
  std::vector<std::string> lines;
  void Add(const std::string& line) { lines.push_back(line); }
  int Count(const std::string& line) const {
    int n = 0;
    for (const std::string& l : lines) n += l == line;
    return n;
  }
};

}  // namespace vxtest
