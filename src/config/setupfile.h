#pragma once
#include <string>
#include <utility>
#include <vector>

#include "regmodel/register.h"

class TkoDeviceVXSlave;

namespace vx {

// --- Setup files (*.310) -----------------------------------------------------------------
inline constexpr const char* kSetupSection = "VX310_Setup";
inline constexpr const char* kHeaderSection = "Header";
inline constexpr const char* kDriveKey = "Drive";

// The "Header" section of an exported file, read from section "AboutForm" of the
// settings file.
struct SetupFileHeader {
  std::string Version = "2.20";
  std::string Owner = " VX310 Configuration Terminal";
  std::string Company = "Orvadi s.n.c.";
  std::string Web;  // the maker's web address unless the settings file names one
};
SetupFileHeader ReadSetupFileHeader(const std::string& settingsFile);

// Writes the header and the drive's "ImportExport" registers to the file (lines ended by
// CR LF, through a temporary file renamed over the target). The header also names the
// drive the setup comes from ("Drive", its version text), so that an import on another
// drive model can say so. Throws EkoException when the
// file cannot be written; the target is then left as it was.
void ExportSetupFile(const TkoDeviceVXSlave& drive, const SetupFileHeader& header,
                     const std::string& fileName);

struct SetupImport {
  std::string Creator;    // "Header"/"Owner", "- unknown -" when absent
  std::string Version;    // "Header"/"Version", "- unknown -" when absent
  bool HasSetup = false;  // the file has a "VX310_Setup" section
  int Loaded = 0;         // keys loaded into a register
  // Keys that changed nothing, with the reason of the load report ("UNKNOWN!",
  // "Excluded!", "NOT_FOUND!").
  std::vector<std::pair<std::string, std::string>> Skipped;
  std::string Report;  // the load report as the drive returns it
  // Values not taken as written: clamped to this drive's limits, unreadable, missing.
  std::vector<TkoLoadIssue> Issues;
  // "Header"/"Drive": the drive the file was written for; empty in files without it.
  std::string FileDrive;
  // The file comes from a drive that this drive's data model does not cover (by its
  // "Drive" key, or, without one, by names this drive has no register for).
  bool OtherModel = false;
};
// Whether a file comes from a drive that the drive's data model does not cover: by its
// "Drive" key when it has one, else by names the drive has no register for ("UNKNOWN!" in
// the load report of its setup section).
bool FromOtherModel(const TkoDeviceVXSlave& drive, const std::string& fileDrive,
                    const std::string& loadReport);

// Loads the file's setup section into the drive (only registers of its "ImportExport"
// category). Throws EkoException when the file cannot be read; the drive is then
// unchanged.
SetupImport ImportSetupFile(TkoDeviceVXSlave& drive, const std::string& fileName);

}  // namespace vx
