#include "regmodel/dmcollection.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/koexception.h"

namespace {

// Data models live until the program ends: devices and their registers keep pointers to
// them and to the predefined resource at the end of their fallback chain, whichever
// collection found them.
struct ModelKeeper {
  std::vector<std::unique_ptr<TkoRegDefsList>> lists;
  std::vector<std::shared_ptr<TkoTextResource>> predefined;
};

ModelKeeper& Keeper() {
  static ModelKeeper keeper;
  return keeper;
}

bool HasExtension(const std::string& name, const std::string& ext) {
  if (name.size() < ext.size() + 1) return false;
  const size_t dot = name.size() - ext.size() - 1;
  return name[dot] == '.' && vx::EqualsIgnoreCase(std::string_view(name).substr(dot + 1), ext);
}

}  // namespace

TkoDMCollection::TkoDMCollection() : predefined_(std::make_shared<TkoTextResource>()) {
  // The directory current at creation (start-up), fixed even if the process moves later.
  std::error_code ec;
  const std::filesystem::path start = std::filesystem::current_path(ec);
  SetFilePath(ec ? std::string(".") : start.string());
  predefined_->LoadResource(TkoTextResource::kStdFormats);
  predefined_->AppendResource(TkoTextResource::kStdDefinitions);
  predefined_->AppendResource(TkoTextResource::kEmptyText);
}

TkoDMCollection::~TkoDMCollection() = default;

void TkoDMCollection::SetFilePath(const std::string& path) {
  filePath_ = path;
  if (filePath_.empty() || filePath_.back() != '/') filePath_ += '/';
}

void TkoDMCollection::LoadPredefined(const std::string& resourceName) {
  predefined_->AppendResource(resourceName);
}
void TkoDMCollection::LoadPredefined(int resourceNumber) {
  predefined_->AppendResource(resourceNumber);
}
void TkoDMCollection::LoadPredefinedFile(const std::string& fileName) {
  predefined_->AppendFile(fileName);
}

std::unique_ptr<TkoRegDefsList> TkoDMCollection::NewList() const {
  auto list = std::make_unique<TkoRegDefsList>();
  list->ChainResource(predefined_.get());
  return list;
}

std::vector<std::string> TkoDMCollection::ListModelFiles() const {
  std::vector<std::string> names;
  if (filePath_.empty() || FileExt.empty()) return names;
  std::error_code ec;
  std::filesystem::directory_iterator it(filePath_, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code fec;
    // A directory or device named like a data model is no data model to open.
    if (HasExtension(name, FileExt) && it->is_regular_file(fec)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TkoDMCollection::Lookup TkoDMCollection::GetRegDefsFor(const TkoVersionRecord* version) {
  Lookup result;
  if (!version) {
    result.Created = NewList();
    if (!DfltFile.empty()) result.Created->LoadFromFile(filePath_ + DfltFile);
    return result;
  }
  for (TkoRegDefsList* list : Lists) {
    if (list->MatchesVersion(version)) {
      result.List = list;
      return result;
    }
  }
  result.Created = NewList();
  TkoRegDefsList& list = *result.Created;
  const std::vector<std::string> files = ListModelFiles();
  for (const std::string& name : files) {
    list.OpenFile(filePath_ + name);
    if (list.MatchesVersion(version)) break;
    list.OpenFile(std::string());
  }
  if (!files.empty() && list.IsBlank() && !DfltFile.empty()) {
    list.LoadFromFile(filePath_ + DfltFile);
  }
  return result;
}

TkoRegDefsList* TkoDMCollection::FindRegDefsListFor(const TkoVersionRecord* version) {
  Lookup found = GetRegDefsFor(version);
  TkoRegDefsList* list = found.List ? found.List : found.Created.get();
  std::string name;
  if (list->IsBlank()) {
    name = list->FileName;
    const std::string before = name;
    if (OnNoVersion) OnNoVersion(this, version, name);
    if (name.empty() || name == before) return nullptr;  // Created frees the list
    list->OpenFile(name);
    // A named file without content is no data model either.
    if (list->IsBlank()) return nullptr;
  }
  if (OnVersion) OnVersion(this, version, name);
  if (found.Created && !list->FileName.empty() && !list->MatchesVersion(version)) {
    // The default file, or a file a handler named, is never found again by the version
    // search: a model already read from that file is reused instead of kept once more for
    // every device that falls back on it.
    for (TkoRegDefsList* known : Lists) {
      if (known->FileName == list->FileName) {
        found.Created.reset();
        list = known;
        break;
      }
    }
  }
  if (found.Created) {
    ModelKeeper& keeper = Keeper();
    keeper.lists.push_back(std::move(found.Created));
    if (std::find(keeper.predefined.begin(), keeper.predefined.end(), predefined_) ==
        keeper.predefined.end()) {
      keeper.predefined.push_back(predefined_);
    }
    Lists.push_back(list);
  }
  list->BuildDefinitions();
  return list;
}

std::string TkoDMCollection::GetVersionDescription(const TkoVersionRecord* version) {
  Lookup found = GetRegDefsFor(version);
  TkoRegDefsList* list = found.List ? found.List : found.Created.get();
  return list->IsBlank() ? std::string() : list->GetVersionDescr();
}

std::string TkoDMCollection::GetVersionFileName(const TkoVersionRecord* version) {
  Lookup found = GetRegDefsFor(version);
  return found.List ? found.List->FileName : found.Created->FileName;
}

bool TkoDMCollection::AreVersionCompatible(const TkoVersionRecord* a, const TkoVersionRecord* b) {
  const std::string fa = GetVersionFileName(a);
  return !fa.empty() && fa == GetVersionFileName(b);
}

bool TkoDMCollection::AreVersionCompatible(const std::string& a, const std::string& b) {
  TkoVersionRecord ra, rb;
  ra.Parse(a);
  rb.Parse(b);
  return AreVersionCompatible(&ra, &rb);
}

void TkoDMCollection::ExtractAllVersionList(std::vector<std::string>* list) {
  if (!list || filePath_.empty() || FileExt.empty()) return;
  list->push_back("Searching path: " + filePath_);
  list->push_back("Searching ext.: *." + FileExt);
  list->push_back(std::string());
  TkoRegDefsList model;
  for (const std::string& name : ListModelFiles()) {
    std::string versions;
    try {
      model.LoadFromFile(filePath_ + name);
      versions = model.GetVersions();
    } catch (const EkoException& e) {
      versions = std::string("cannot be read: ") + e.what();
    }
    if (versions.empty()) continue;
    std::string line = name;
    if (line.size() < 30) line.resize(30, ' ');
    list->push_back(line + "=" + versions);
  }
}
