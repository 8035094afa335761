// A data-model file from arbitrary text: definitions built, a register image with its
// registers on it, every register's value and description texts read, the category
// block lists bound to the image, and every "[Parameters]" entry built as each kind of
// parameter (which must stand for the element its entry names) and read. EkoException
// counts as a clean refusal only where the code says it throws (an element index or a
// data type a register does not have); anything else that escapes is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "params/parbuild.h"
#include "params/parvalue.h"
#include "platform/koexception.h"
#include "regmodel/regblock.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefinition.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

// The predefined texts a data-model file falls back to, as the program chains them.
TkoTextResource& Predefined() {
  static TkoTextResource* r = [] {
    auto* p = new TkoTextResource(TkoTextResource::kStdFormats);
    p->AppendResource(TkoTextResource::kStdDefinitions);
    p->AppendResource(TkoTextResource::kEmptyText);
    return p;
  }();
  return *r;
}

constexpr TkoParKind kKinds[] = {TkoParKind::Value,    TkoParKind::Long,      TkoParKind::Encoded,
                                 TkoParKind::BitField, TkoParKind::BoolField, TkoParKind::Frac16,
                                 TkoParKind::Point2D};

// The element an entry names: second item, or third for the kinds of two registers.
bool EntryElement(TkoParKind kind, std::string_view entry, std::int32_t& element) {
  const std::vector<std::string> items = vx::SplitCommaList(entry);
  const bool two =
      kind == TkoParKind::Long || kind == TkoParKind::Frac16 || kind == TkoParKind::Point2D;
  const std::size_t at = two ? 2 : 1;
  return items.size() > at && TextToInteger(items[at], element);
}

void ReadRegister(const TkoRegister& reg) {
  const TkoRegDefinition* def = reg.Definition();
  (void)def->GetDescr(-1, 0).size();
  for (int i = 0; i < def->Length; ++i) {
    (void)reg.GetValueString(i, 0).size();
    (void)def->GetDescr(i, 0).size();
    (void)def->GetValueDescr(0, i, true, 0).size();
  }
  std::vector<std::string> report;
  reg.Report(&report);
}

// A parameter naming an element its register lacks, or reading a string register as a
// number, is refused by the register with EkoException.
void ReadParameter(TkoParValue& par) {
  (void)par.GetValueString().size();
  (void)par.GetDescr().size();
  (void)par.GetMaxString().size();
  (void)par.GetMinString().size();
  (void)par.GetDfltString().size();
  TkoParChoiceList choices;
  par.GetValueList(&choices, true);
  std::vector<std::string> report;
  par.Report(&report);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TkoRegDefsList list;
  // Both ways a model comes in: a file's stream and a text in memory.
  if (size % 2) {
    std::istringstream in(text);
    list.LoadFromStream(in);
  } else {
    list.SetText(text);
  }
  list.ChainResource(&Predefined());
  list.BuildDefinitions();
  (void)list.GetVersions();
  (void)list.GetVersionDescr();
  (void)list.GetMaxBufferSize();

  TkoRegDataBuffer buffer(&list);
  for (int i = 0; i < buffer.RegisterCount(); ++i) ReadRegister(*buffer.RegisterByIndex(i));

  std::vector<std::string> categories;
  list.ReadSectionValues("Categories", &categories);
  for (const std::string& line : categories) {
    const std::string name = line.substr(0, line.find('='));
    std::unique_ptr<TkoRegBlock> chain = vx::GetCategory(list, name);
    if (!chain) continue;
    chain->Bind(&buffer);
    (void)chain->ToText();
  }

  std::vector<std::string> entries;
  list.ReadSectionValues("Parameters", &entries);
  for (const std::string& line : entries) {
    const std::string_view entry = std::string_view(line).substr(line.find('=') + 1);
    for (TkoParKind kind : kKinds) {
      std::unique_ptr<TkoParValue> par;
      try {
        par = vx::BuildParameter(kind, entry, buffer);
      } catch (const EkoException&) {
        continue;  // an element the register does not have
      }
      if (!par) continue;
      // A parameter must stand for the element its entry names, not another one.
      std::int32_t element = -1;
      if (!EntryElement(kind, entry, element) || par->Index != element) {
        std::fprintf(stderr, "parameter \"%s\" built on element %d\n", line.c_str(), par->Index);
        std::abort();
      }
      try {
        ReadParameter(*par);
      } catch (const EkoException&) {
      }
    }
  }
  return 0;
}
