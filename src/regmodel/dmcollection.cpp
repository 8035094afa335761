#include "regmodel/dmcollection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/koexception.h"
#include "regmodel/regblock.h"

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

void TkoDMCollection::Reject(const std::string& path, const std::string& why) {
  if (OnRejected) OnRejected(this, path, why);
}

std::string TkoDMCollection::FileDefect(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string("cannot be read: ") + std::strerror(errno);
  std::ostringstream all;
  all << in.rdbuf();
  if (in.bad()) return "cannot be read to its end";
  const std::string text = all.str();
  if (text.empty()) return "is empty";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    // Tab, line ends, form feed and the old end-of-file mark are text; other control
    // characters are not (high bytes are Windows-1252 letters).
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A)
      return "is not a text file (byte " + std::to_string(i) + " is a control character)";
  }
  // A file cut short mostly ends inside a line. A last line without line end is whole
  // when it is blank, a comment, a section header or a key with its value in full.
  const char last = text.back();
  if (last == '\n' || last == '\r' || last == 0x1A) return std::string();
  const std::size_t from = text.find_last_of("\r\n") + 1;  // npos + 1 is 0
  const std::string_view line = vx::Trim(std::string_view(text).substr(from));
  bool whole = line.empty() || line.front() == ';';
  if (!whole && line.front() == '[') whole = line.back() == ']';
  if (!whole && line.front() != '[') {
    const std::size_t eq = line.find('=');
    const std::string_view value =
        eq == std::string_view::npos ? "" : vx::Trim(line.substr(eq + 1));
    whole = eq != std::string_view::npos && eq > 0 && !value.empty() &&
            std::count(value.begin(), value.end(), '"') % 2 == 0;
  }
  if (whole) return std::string();
  return "is cut short: its last line \"" + std::string(line.substr(0, 40)) + "\" is incomplete";
}

std::string TkoDMCollection::ModelDefect(TkoRegDefsList& list,
                                         const TkoVersionRecord* version) const {
  list.BuildDefinitions();
  if (list.Count() == 0) return "holds no register definitions";
  if (!NeedsOf || version == nullptr) return std::string();
  const Needs needs = NeedsOf(version);
  for (const std::string& category : needs.Categories) {
    const std::string text = list.GetCategoryText(category);
    if (text.empty()) return "has no \"" + category + "\" category";
    const std::unique_ptr<TkoRegBlock> chain = vx::GetCategory(list, category);
    for (const TkoRegBlock* b = chain.get(); b != nullptr; b = b->Next()) {
      if (!b->Valid())
        return "its \"" + category + "\" category \"" + text + "\" is no register list";
      for (int a = b->First(); a < b->First() + b->Count(); ++a)
        if (list.FindByAddress(static_cast<uint16_t>(a)) == nullptr)
          return "its \"" + category + "\" category names register " + std::to_string(a) +
                 ", which has no definition";
    }
  }
  if (needs.Parameters) {
    std::vector<std::string> entries;
    list.ReadSectionValues("Parameters", &entries);
    if (entries.empty()) return "has no \"[Parameters]\" section";
  }
  return std::string();
}

std::unique_ptr<TkoRegDefsList> TkoDMCollection::LoadUsable(const std::string& path,
                                                            const TkoVersionRecord* version,
                                                            bool matchVersion) {
  std::unique_ptr<TkoRegDefsList> list = NewList();
  try {
    list->OpenFile(path);
  } catch (const std::exception& e) {
    Reject(path, std::string("cannot be read: ") + e.what());
    return nullptr;
  }
  if (matchVersion && !list->MatchesVersion(version)) return nullptr;
  std::string why = FileDefect(path);
  if (why.empty()) why = ModelDefect(*list, version);
  if (!why.empty()) {
    Reject(path, why);
    return nullptr;
  }
  return list;
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
  // A file written for the version that does not load whole is named and passed over, so
  // that a complete one further on is found.
  const std::vector<std::string> files = ListModelFiles();
  for (const std::string& name : files) {
    result.Created = LoadUsable(filePath_ + name, version, true);
    if (result.Created) return result;
  }
  if (!files.empty() && !DfltFile.empty())
    result.Created = LoadUsable(filePath_ + DfltFile, version, false);
  if (!result.Created) result.Created = NewList();  // blank: no data model
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
    // A named file without content, or one that does not load whole, is no data model
    // either.
    if (list->IsBlank()) return nullptr;
    // The handler's choice stands for what the device class needs; it must load whole.
    std::string why = FileDefect(name);
    if (why.empty()) why = ModelDefect(*list, nullptr);
    if (!why.empty()) {
      Reject(name, why);
      return nullptr;
    }
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
