#pragma once
#include <string>
#include <vector>

namespace vx {

// Where the installed terminal finds what it ships. The folders beside the program
// (<bindir>/../share/vx310) are found from the program's own location, so a terminal
// installed under another prefix, or unpacked anywhere, finds its own files.
struct DataPaths {
  std::string startDirectory;  // with a trailing '/'
  std::string userModels;   // ~/.local/share/vx310/models/ (XDG_DATA_HOME honoured); may be empty
  std::string programData;  // <bindir>/../share/vx310/; empty when the program's folder is unknown
  std::string systemData = "/usr/share/vx310/";

  // The folders searched for data-model files, in order, each once: the start directory,
  // the engineer's own models, the models beside the program, the system's.
  [[nodiscard]] std::vector<std::string> ModelSearchPath() const;
  // The first folder of the search path that holds a file with the extension (letter case
  // ignored); the start directory when none does, so that the supported-device list names
  // the folder where the engineer is expected to put them.
  [[nodiscard]] std::string ModelFolder(const std::string& ext) const;
  // The settings file shipped with the program (the about window's texts); empty when
  // none is installed.
  [[nodiscard]] std::string ShippedSettings() const;
};

// The paths of this process: start directory as given, the user's data folder from the
// environment, the program's data folder from the executable's location.
DataPaths ProcessDataPaths(const std::string& startDirectory);

}  // namespace vx
