#include "app/datapaths.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vx {

namespace {

std::string WithSlash(std::string path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

bool HoldsFileWithExt(const std::string& folder, const std::string& ext) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return false;
  const auto lower = [](std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
  };
  const std::string wanted = "." + lower(ext);
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    if (it->is_regular_file(ec) && lower(it->path().extension().string()) == wanted) return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> DataPaths::ModelSearchPath() const {
  std::vector<std::string> path;
  for (const std::string& folder :
       {startDirectory, userModels, programData.empty() ? std::string() : programData + "models/",
        systemData.empty() ? std::string() : systemData + "models/"}) {
    const std::string f = WithSlash(folder);
    if (!f.empty() && std::find(path.begin(), path.end(), f) == path.end()) path.push_back(f);
  }
  return path;
}

std::string DataPaths::ModelFolder(const std::string& ext) const {
  for (const std::string& folder : ModelSearchPath())
    if (HoldsFileWithExt(folder, ext)) return folder;
  return WithSlash(startDirectory);
}

std::string DataPaths::ShippedSettings() const {
  std::error_code ec;
  for (const std::string& folder : {programData, systemData}) {
    if (folder.empty()) continue;
    const std::string file = WithSlash(folder) + "VX310_ConfigTerm.ini";
    if (std::filesystem::is_regular_file(file, ec)) return file;
  }
  return std::string();
}

DataPaths ProcessDataPaths(const std::string& startDirectory) {
  DataPaths p;
  p.startDirectory = WithSlash(startDirectory);
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && *xdg == '/')
    p.userModels = WithSlash(xdg) + "vx310/models/";
  else if (home != nullptr && *home != '\0')
    p.userModels = WithSlash(home) + ".local/share/vx310/models/";
  if (QCoreApplication::instance() != nullptr) {
    const QString bin = QCoreApplication::applicationDirPath();
    if (!bin.isEmpty())
      p.programData =
          WithSlash(QDir::cleanPath(bin + QStringLiteral("/../share/vx310")).toStdString());
  }
  return p;
}

}  // namespace vx
