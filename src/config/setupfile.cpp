#include "config/setupfile.h"

#include <algorithm>

#include "config/inifile.h"
#include "devices/vxslave.h"
#include "regmodel/regdefslist.h"
#include "regmodel/textresource.h"
#include "regmodel/versionrecord.h"
#include "xml/koxmlparser.h"

namespace vx {

SetupFileHeader ReadSetupFileHeader(const std::string& settingsFile) {
  const TIniFile s(settingsFile);
  SetupFileHeader h;
  h.Web = s.ReadString("AboutForm", "Web", TkoXmlParser::kMakerWeb);
  h.Company = s.ReadString("AboutForm", "Company", h.Company);
  h.Owner = s.ReadString("AboutForm", "Application", h.Owner);
  h.Version = s.ReadString("AboutForm", "Version", h.Version);
  return h;
}

void ExportSetupFile(const TkoDeviceVXSlave& drive, const SetupFileHeader& header,
                     const std::string& fileName) {
  TkoTextResource r;
  // Each WriteString goes directly under the header line, so writing Drive first leaves
  // the lines in the order Version, Owner, Company, Web, Drive.
  r.WriteString(kHeaderSection, kDriveKey, drive.GetVersion().ToString());
  r.WriteString(kHeaderSection, "Web", header.Web);
  r.WriteString(kHeaderSection, "Company", header.Company);
  r.WriteString(kHeaderSection, "Owner", header.Owner);
  r.WriteString(kHeaderSection, "Version", header.Version);
  drive.ExportSetup(kSetupSection, &r);
  r.SaveToFile(fileName);
}

SetupImport ImportSetupFile(TkoDeviceVXSlave& drive, const std::string& fileName) {
  TkoTextResource r(fileName);
  SetupImport result;
  result.Creator = r.ReadString(kHeaderSection, "Owner", "- unknown -");
  result.Version = r.ReadString(kHeaderSection, "Version", "- unknown -");
  result.FileDrive = r.ReadString(kHeaderSection, kDriveKey, std::string());
  result.HasSetup = r.FindSection(kSetupSection);
  if (!result.HasSetup) return result;
  result.Report = drive.ImportSetup(kSetupSection, &r, &result.Issues);
  // One "Name=Outcome" line per key line of the section.
  std::size_t pos = 0;
  while (pos < result.Report.size()) {
    std::size_t end = result.Report.find("\r\n", pos);
    if (end == std::string::npos) end = result.Report.size();
    const std::string line = result.Report.substr(pos, end - pos);
    pos = end + 2;
    const std::size_t eq = line.rfind('=');
    if (eq == std::string::npos) continue;
    const std::string outcome = line.substr(eq + 1);
    if (outcome == "Found.")
      ++result.Loaded;
    else
      result.Skipped.emplace_back(line.substr(0, eq), outcome);
  }
  result.OtherModel = FromOtherModel(drive, result.FileDrive, result.Report);
  return result;
}

bool FromOtherModel(const TkoDeviceVXSlave& drive, const std::string& fileDrive,
                    const std::string& loadReport) {
  if (!fileDrive.empty()) {
    TkoVersionRecord written;
    written.Parse(fileDrive);
    return drive.DefsList() != nullptr && !drive.DefsList()->MatchesVersion(&written);
  }
  // One "Name=Outcome" line per key line of the section.
  return loadReport.find("=UNKNOWN!\r\n") != std::string::npos;
}

}  // namespace vx
