#pragma once
#include <memory>
#include <string>

#include "regmodel/regdefslist.h"
#include "regmodel/textresource.h"

namespace vxtest {

// The predefined resource a data-model file falls back to: formats, then standard
// definitions, then the empty placeholder.
inline std::unique_ptr<TkoTextResource> MakePredefined() {
  auto r = std::make_unique<TkoTextResource>(TkoTextResource::kStdFormats);
  r->AppendResource(TkoTextResource::kStdDefinitions);
  r->AppendResource(TkoTextResource::kEmptyText);
  return r;
}

// A built definition list from text, chained to the predefined resource.
struct Model {
  std::unique_ptr<TkoTextResource> predefined = MakePredefined();
  TkoRegDefsList list;
  explicit Model(const std::string& text, bool build = true) {
    list.SetText(text);
    list.ChainResource(predefined.get());
    if (build) list.BuildDefinitions();
  }
};

}  // namespace vxtest
