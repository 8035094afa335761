#include "config/setupcompare.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "config/setupfile.h"
#include "devices/vxslave.h"
#include "mbwire/mbresult.h"
#include "params/parbuild.h"
#include "platform/threadbuffer.h"
#include "regmodel/regblock.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace vx {

namespace {

// The registers a parameter shows.
bool Shows(const TkoParValue& par, const TkoRegister* reg) {
  if (par.Register == reg) return true;
  if (auto* l = dynamic_cast<const TkoParLong*>(&par)) return l->HighRegister == reg;
  if (auto* f = dynamic_cast<const TkoParFrac16*>(&par)) return f->ExpRegister == reg;
  if (auto* p = dynamic_cast<const TkoPar2DPoint*>(&par)) return p->YRegister == reg;
  return false;
}

bool SameBytes(const TkoRegDataBuffer& a, const TkoRegDataBuffer& b, uint16_t address) {
  TkoRegDefsList* model = a.DefsList();
  const int32_t offset = model->ByteOffset(address);
  const int32_t bytes = model->BlockBytes(address, 1);
  if (offset < 0 || bytes <= 0) return true;
  const TkoThreadBuffer::ReadAccess ra(*a.Image());
  const TkoThreadBuffer::ReadAccess rb(*b.Image());
  return std::memcmp(ra.data() + offset, rb.data() + offset, static_cast<std::size_t>(bytes)) == 0;
}

// The drive ties some limits to other registers (a current to the current range); the
// copy follows its own registers the same way, so that the file's values are clamped as an
// import into the drive would clamp them.
void MirrorTies(const TkoRegDataBuffer& drive, TkoRegDataBuffer& copy) {
  for (int i = 0; i < drive.RegisterCount(); ++i) {
    const TkoRegister* reg = drive.RegisterByIndex(i);
    TkoRegister* twin = copy.RegisterByIndex(i);
    if (reg == nullptr || twin == nullptr) continue;
    const std::pair<const TkoRegBound*, TkoRegBound*> bounds[] = {
        {reg->MinBound(), twin->MinBound()},
        {reg->MaxBound(), twin->MaxBound()},
        {reg->DfltBound(), twin->DfltBound()}};
    for (const auto& [mine, theirs] : bounds) {
      if (mine == nullptr || theirs == nullptr || mine->Source == nullptr) continue;
      theirs->Source = copy.RegisterAt(mine->Source->Definition()->Address);
      theirs->Mode = mine->Mode;
    }
  }
}

std::string RegisterText(const TkoRegister& reg) {
  std::string text;
  for (int32_t i = 0; i < reg.Definition()->Length; ++i) {
    if (i > 0) text += ",";
    text += reg.GetValueString(i, 0);
  }
  return text;
}

}  // namespace

std::vector<SetupDifference> CompareSetups(const TkoDeviceVXSlave& drive,
                                           const TkoRegDataBuffer& other,
                                           const std::string& category) {
  std::vector<SetupDifference> differences;
  TkoRegDefsList* model = drive.DefsList();
  if (model == nullptr || other.DefsList() != model || drive.Image() == nullptr ||
      other.Image() == nullptr)
    return differences;
  const std::unique_ptr<TkoRegBlock> chain = GetCategory(*model, category);
  if (!chain) return differences;

  std::vector<uint16_t> addresses;
  for (const TkoRegBlock* b = chain.get(); b != nullptr && b->Valid(); b = b->Next())
    for (int a = b->First(); a < b->First() + b->Count(); ++a)
      addresses.push_back(static_cast<uint16_t>(a));
  std::sort(addresses.begin(), addresses.end());
  addresses.erase(std::unique(addresses.begin(), addresses.end()), addresses.end());

  const std::vector<TkoDeviceVXSlave::NamedParameter> params = drive.NamedParameters();
  std::vector<const TkoParValue*> reported;
  for (const uint16_t address : addresses) {
    const TkoRegister* reg = drive.RegisterAt(address);
    if (reg == nullptr || SameBytes(drive, other, address)) continue;
    bool shown = false;
    for (const TkoDeviceVXSlave::NamedParameter& p : params) {
      if (!Shows(*p.Parameter, reg)) continue;
      shown = true;  // the parameter speaks for the register, differing or not
      if (std::find(reported.begin(), reported.end(), p.Parameter) != reported.end()) continue;
      const std::string entry = model->ReadString("Parameters", p.Name, std::string());
      const std::unique_ptr<TkoParValue> twin = BuildParameter(p.Kind, entry, other);
      if (!twin) continue;
      const std::string mine = p.Parameter->GetValueString();
      const std::string theirs = twin->GetValueString();
      if (mine == theirs) continue;
      reported.push_back(p.Parameter);
      differences.push_back({p.Name, mine, theirs});
    }
    // Bits that no parameter covers (or a parameter whose text rounds the difference
    // away) would go unseen: the register itself is named.
    const bool anyListed = std::any_of(reported.begin(), reported.end(),
                                       [&](const TkoParValue* p) { return Shows(*p, reg); });
    if (!shown || !anyListed) {
      const TkoRegister* twin = other.RegisterAt(address);
      if (twin != nullptr)
        differences.push_back({reg->Name(), RegisterText(*reg), RegisterText(*twin)});
    }
  }
  return differences;
}

namespace {

// A buffer on the drive's data model holding what the drive object's image holds now,
// with the same ties between registers.
std::unique_ptr<TkoRegDataBuffer> CopyOf(const TkoDeviceVXSlave& drive) {
  auto copy = std::make_unique<TkoRegDataBuffer>(drive.DefsList());
  if (copy->Image() == nullptr || drive.Image() == nullptr) return copy;
  {
    const TkoThreadBuffer::ReadAccess src(*drive.Image());
    TkoThreadBuffer::WriteAccess dst(*copy->Image());
    std::memcpy(dst.data(), src.data(), static_cast<std::size_t>(drive.Image()->Size()));
  }
  MirrorTies(drive, *copy);
  return copy;
}

}  // namespace

std::vector<SetupDifference> CompareWithDrive(TkoDeviceVXSlave& drive, int32_t& result) {
  if (drive.DefsList() == nullptr) {
    result = mbresult::kNoDataBuffer;
    return {};
  }
  const std::unique_ptr<TkoRegDataBuffer> fromDrive = CopyOf(drive);
  result = drive.ReadSetupInto(*fromDrive);
  if (result != 0) return {};
  return CompareSetups(drive, *fromDrive, TkoDeviceVXSlave::kSetupCategory);
}

SetupComparison CompareSetupFile(const TkoDeviceVXSlave& drive, const std::string& fileName) {
  TkoTextResource file(fileName);
  SetupComparison result;
  result.HasSetup = file.FindSection(kSetupSection);
  result.FileDrive = file.ReadString(kHeaderSection, kDriveKey, std::string());
  TkoRegDefsList* model = drive.DefsList();
  if (!result.HasSetup || model == nullptr || drive.Image() == nullptr) return result;
  const std::unique_ptr<TkoRegBlock> chain = GetCategory(*model, "ImportExport");
  if (!chain) return result;

  // The file's setup is loaded into a copy of the drive's image, through the same load
  // an import runs, so that what is compared is what an import would send.
  const std::unique_ptr<TkoRegDataBuffer> fromFile = CopyOf(drive);
  if (fromFile->Image() == nullptr) return result;
  const std::string report = fromFile->LoadBlocks(kSetupSection, &file, chain.get());
  result.OtherModel = FromOtherModel(drive, result.FileDrive, report);
  result.Differences = CompareSetups(drive, *fromFile, "ImportExport");
  return result;
}

}  // namespace vx
