#pragma once
#include <string>
#include <vector>

class TkoDeviceVXSlave;

namespace vx {

// One value that differs between the drive and a setup file: a parameter by its name in
// the data model, or a register by its name where no parameter shows the difference (bits
// or elements no parameter covers). The texts are those the setup window shows.
struct SetupDifference {
  std::string Name;
  std::string Drive;
  std::string File;
};

struct SetupComparison {
  bool HasSetup = false;                     // the file has a "VX310_Setup" section
  std::vector<SetupDifference> Differences;  // in register order
};

// Compares the drive's setup with a setup file as an import would apply it: the file's
// values for the registers of the "ImportExport" category, on top of the drive's own
// values (registers the file leaves out, or names outside the category, compare equal).
// The drive is not changed. Throws EkoException when the file cannot be read.
SetupComparison CompareSetupFile(const TkoDeviceVXSlave& drive, const std::string& fileName);

}  // namespace vx
