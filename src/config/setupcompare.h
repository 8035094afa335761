#pragma once
#include <cstdint>
#include <string>
#include <vector>

class TkoDeviceVXSlave;
class TkoRegDataBuffer;

namespace vx {

// One value that differs between the drive object and another setup (a file's, or one
// read afresh from the drive): a parameter by its name in the data model, or a register by
// its name where no parameter shows the difference (bits or elements no parameter covers).
// The texts are those the setup window shows.
struct SetupDifference {
  std::string Name;
  std::string Mine;   // the drive object's value
  std::string Other;  // the other setup's value
};

struct SetupComparison {
  bool HasSetup = false;                     // the file has a "VX310_Setup" section
  std::vector<SetupDifference> Differences;  // in register order
  // "Header"/"Drive": the drive the file was written for; empty in files without it.
  std::string FileDrive;
  // The file comes from a drive that this drive's data model does not cover (as an
  // import judges it); its values are compared all the same.
  bool OtherModel = false;
};

// Compares the drive object's values of the registers of a category of its data model
// with those of `other`, an image on the same data model. Neither is changed; an image
// on another data model compares as no difference.
std::vector<SetupDifference> CompareSetups(const TkoDeviceVXSlave& drive,
                                           const TkoRegDataBuffer& other,
                                           const std::string& category);

// Reads the drive's setup afresh into a copy of the drive object's image
// (TkoDeviceVXSlave::ReadSetupInto, which waits for it) and compares the object's values,
// edited or not, with the drive's. The object keeps its values. `result` gets the read's
// result code: 0 when the differences are those; on any other code nothing was compared,
// and on -11 the drive object may have gone meanwhile (it must not be touched again
// before the caller has made sure it is still there).
std::vector<SetupDifference> CompareWithDrive(TkoDeviceVXSlave& drive, int32_t& result);

// Compares the drive's setup with a setup file as an import would apply it: the file's
// values for the registers of the "ImportExport" category, on top of the drive's own
// values (registers the file leaves out, or names outside the category, compare equal).
// The drive is not changed. Throws EkoException when the file cannot be read.
SetupComparison CompareSetupFile(const TkoDeviceVXSlave& drive, const std::string& fileName);

}  // namespace vx
