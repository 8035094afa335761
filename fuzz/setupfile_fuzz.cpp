// Setup files and block lists from arbitrary text, on the shipped drive model. The first
// input line is a block list: parsed, printed and parsed again (the same blocks must come
// back), and used as the filter of the load. The rest is a setup text whose sections
// are loaded into a register image. What is loaded is then saved and loaded into fresh
// images in turn: a reload must find every register that was saved, and once the values
// have been through one load, saving must give the same text each time.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "regmodel/regblock.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefinition.h"
#include "regmodel/regdefslist.h"
#include "regmodel/textresource.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& a, const std::string& b) {
  std::fprintf(stderr, "invariant broken: %s\n--- first\n%s\n--- second\n%s\n", what, a.c_str(),
               b.c_str());
  std::abort();
}

TkoRegDefsList& Model() {
  static TkoRegDefsList* list = [] {
    auto* predefined = new TkoTextResource(TkoTextResource::kStdFormats);
    predefined->AppendResource(TkoTextResource::kStdDefinitions);
    predefined->AppendResource(TkoTextResource::kEmptyText);
    auto* l = new TkoRegDefsList();
    l->LoadFromFile(VX_SOURCE_DIR "/models/VX310v220.par");
    l->ChainResource(predefined);
    l->BuildDefinitions();
    if (l->Count() == 0) {
      std::fprintf(stderr, "model without definitions\n");
      std::abort();
    }
    return l;
  }();
  return *list;
}

// Every register of the model, as one block that ends at its highest address (walking
// the whole address space on every run would cost more than the rest of the run).
TkoRegBlock& AllRegisters() {
  static TkoRegBlock* all = [] {
    TkoRegDefsList& m = Model();
    const uint16_t last = m.DefinitionAt(m.Count() - 1)->Address;
    return new TkoRegBlock(0, static_cast<uint16_t>(last + 1), nullptr);
  }();
  return *all;
}

std::string Saved(const TkoRegDataBuffer& buffer, const TkoRegBlock& chain,
                  const std::string& section) {
  TkoTextResource out;
  buffer.SaveBlocks(&chain, section, &out);
  return out.Text();
}

std::vector<std::pair<int, int>> Blocks(const TkoRegBlock& chain) {
  std::vector<std::pair<int, int>> out;
  for (const TkoRegBlock* b = &chain; b; b = b->Next())
    if (b->Valid()) out.emplace_back(b->First(), b->Count());
  return out;
}

// Loads a saved text into `buffer`, every key of which must name a register, and saves
// the chain again.
std::string Reload(TkoRegDataBuffer& buffer, const std::string& text, const std::string& section,
                   const TkoRegBlock& chain) {
  TkoTextResource in;
  in.SetText(text);
  const std::string report = buffer.LoadBlocks(section, &in, nullptr);
  if (report.find('!') != std::string::npos)
    Fail("saved register not found on reload", text, report);
  return Saved(buffer, chain, section);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t eol = input.find('\n');
  const std::string blocks = input.substr(0, eol);
  const std::string setup = eol == std::string::npos ? std::string() : input.substr(eol + 1);

  const TkoRegBlock filter(blocks);
  // The chain holds the items in reverse text order, so its print parsed again gives the
  // same blocks in reverse.
  const std::string printed = filter.ToText();
  const TkoRegBlock reparsed(printed);
  std::vector<std::pair<int, int>> a = Blocks(filter), b = Blocks(reparsed);
  std::reverse(b.begin(), b.end());
  if (a != b) Fail("block list print does not read back", printed, reparsed.ToText());
  (void)filter.TotalCount();

  TkoRegDefsList& model = Model();
  TkoTextResource file;
  file.SetText(setup);
  std::vector<std::string> sections;
  file.ListSections(&sections);
  if (sections.size() > 8) sections.resize(8);

  TkoRegDataBuffer loaded(&model);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    // Every other section through the filter, so that both paths run.
    (void)loaded.LoadBlocks(sections[i], &file, i % 2 ? &filter : nullptr).size();
  }

  const std::string section = sections.empty() ? std::string("Setup") : sections.front();
  const TkoRegBlock& chain = filter.Valid() ? filter : AllRegisters();
  const std::string first = Saved(loaded, chain, section);

  // A load clamps values to the registers' limits, so the first save may hold values the
  // image never had; from the second save on, saving and loading must be stable.
  TkoRegDataBuffer reloaded(&model);
  const std::string second = Reload(reloaded, first, section, chain);
  TkoRegDataBuffer again(&model);
  const std::string third = Reload(again, second, section, chain);
  if (second != third) Fail("save, load, save differs", second, third);
  return 0;
}
