#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "regmodel/regdefslist.h"
#include "regmodel/textresource.h"
#include "regmodel/versionrecord.h"

// Finds, loads and keeps the data model (.par file in FilePath) written for a device
// version, chained to the predefined built-in formats and standard definitions.
// User-interface thread only.
class TkoDMCollection {
 public:
  // (sender, version, file path): OnNoVersion's handler may name a file to load.
  using VersionEvent = std::function<void(TkoDMCollection* sender, const TkoVersionRecord* version,
                                          std::string& file)>;

  TkoDMCollection();
  ~TkoDMCollection();
  TkoDMCollection(const TkoDMCollection&) = delete;
  TkoDMCollection& operator=(const TkoDMCollection&) = delete;

  // The data model to use for the version, with its definitions built, or null. A model
  // once found stays in Lists (and alive until the program ends) for later devices.
  TkoRegDefsList* FindRegDefsListFor(const TkoVersionRecord* version);

  // The search step alone. `List` is a model already in Lists, or else `Created`, a new
  // list (possibly blank) that the caller owns.
  struct Lookup {
    TkoRegDefsList* List = nullptr;
    std::unique_ptr<TkoRegDefsList> Created;
  };
  Lookup GetRegDefsFor(const TkoVersionRecord* version);

  void LoadPredefined(const std::string& resourceName);  // a built-in text by name
  void LoadPredefined(int resourceNumber);
  void LoadPredefinedFile(const std::string& fileName);

  // The directory searched; the current directory at creation unless set.
  const std::string& FilePath() const { return filePath_; }
  // Stores the path with a trailing "/" added when missing.
  void SetFilePath(const std::string& path);

  std::string GetVersionDescription(const TkoVersionRecord* version);
  std::string GetVersionFileName(const TkoVersionRecord* version);
  bool AreVersionCompatible(const TkoVersionRecord* a, const TkoVersionRecord* b);
  bool AreVersionCompatible(const std::string& a, const std::string& b);
  // Appends a header and one line "name=versions" per data-model file that names versions.
  void ExtractAllVersionList(std::vector<std::string>* list);

  // The entries of FilePath matching "*." + FileExt (extension letter case ignored),
  // regular files only, sorted by name so that the choice among several matching files is
  // the same on every machine.
  std::vector<std::string> ListModelFiles() const;

  // What a data model must hold to serve a version's device: the categories its class's
  // transactions read and write, and whether it binds parameters ("[Parameters]").
  struct Needs {
    std::vector<std::string> Categories;
    bool Parameters = false;
  };
  // Set by whoever knows the device classes (the network component); empty: nothing
  // beyond a file that loads whole.
  std::function<Needs(const TkoVersionRecord* version)> NeedsOf;
  // A data-model file that matches but does not load whole: its path and why. It is passed
  // over; the search goes on with the next file.
  std::function<void(TkoDMCollection* sender, const std::string& file, const std::string& why)>
      OnRejected;
  // Why the file does not load whole (cannot be read, is no text, ends inside a line);
  // empty when it does.
  static std::string FileDefect(const std::string& path);
  // Why a loaded model cannot serve the version's device (no definitions, a needed
  // category missing or naming registers without definition, no parameters); empty when
  // it can. Builds the model's definitions. Without a version only definitions are asked.
  std::string ModelDefect(TkoRegDefsList& list, const TkoVersionRecord* version) const;

  std::string FileExt = "par";
  std::string DfltFile;
  std::vector<TkoRegDefsList*> Lists;  // not owned: kept alive process-wide
  TkoTextResource* Predefined() const { return predefined_.get(); }

  VersionEvent OnVersion;
  VersionEvent OnNoVersion;

 private:
  std::unique_ptr<TkoRegDefsList> NewList() const;
  // The model of the file when it loads whole and serves the version; null (the file
  // named through OnRejected) otherwise. `matchVersion`: only a file written for it.
  std::unique_ptr<TkoRegDefsList> LoadUsable(const std::string& path,
                                             const TkoVersionRecord* version, bool matchVersion);
  void Reject(const std::string& path, const std::string& why);

  std::string filePath_;
  std::shared_ptr<TkoTextResource> predefined_;
};
