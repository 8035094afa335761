// vx310-bench params: parameter texts and writes over a whole data model, and loading a
// setup section of 1,000 registers.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "params/parbuild.h"
#include "params/parencoded.h"
#include "regmodel/regblock.h"
#include "regmodel/regdatabuffer.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

namespace fs = std::filesystem;

// The class a device would declare for an entry, guessed from its shape: the devices that
// declare them are not part of this benchmark.
TkoParKind GuessKind(const std::vector<std::string>& items, const TkoRegDataBuffer& dev) {
  if (items.size() == 3) {
    // reg1,reg2,element: the second item names a register or is left empty. (A name such
    // as "PosH" would also read as a hexadecimal number.)
    if (items[1].empty() || dev.FindRegister(items[1])) {
      const TkoRegister* r = dev.FindRegister(items[0]);
      // Fractions (raw / 32768) are fixed-point values, with or without exponent.
      const bool gain = r && r->Definition()->FormatNorm == 32768.0;
      return gain ? TkoParKind::Frac16 : TkoParKind::Long;
    }
    const std::string& third = items[2];
    const bool mask = third.rfind("0x", 0) == 0 || (!third.empty() && (third.back() == 'h'));
    return mask ? TkoParKind::BitField : TkoParKind::BoolField;
  }
  const TkoRegister* r = items.empty() ? nullptr : dev.FindRegister(items[0]);
  if (r) {
    for (const auto& d : r->Definition()->Descr()) {
      if (d.first.find('v') != std::string::npos) return TkoParKind::Encoded;
    }
  }
  return TkoParKind::Value;
}

std::string FindShippedModel(const std::vector<std::string>& args) {
  if (!args.empty()) return args[0] == "--generated" ? std::string() : args[0];
  // The source tree's models/ beside bench/, then models/ under the working directory.
  const fs::path here = fs::path(__FILE__).parent_path().parent_path() / "models";
  for (const fs::path& dir : {here, fs::path("models")}) {
    std::error_code ec;
    std::vector<std::string> found;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->path().extension() == ".par") found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    if (!found.empty()) return found.front();
  }
  return std::string();
}

// A model shaped like the shipped one: scaled values, encoded settings, bit fields,
// long pairs and gains, with a [Parameters] entry for each.
std::string GeneratedModel() {
  std::string t = "[Versions]\nVersions=VX310v2*\n[DataModel]\nMaxBufferSize=128\n";
  std::string pars = "[Parameters]\n";
  for (int i = 0; i < 40; ++i) {
    const std::string a = std::to_string(100 + i), n = "Val" + a;
    t += "[" + a + "]\nName=" + n +
         "\nType=unsigned short\nMinValue=0\nMaxValue=6000\n"
         "DfltValue=100\nFormatNorm=10\nFormatString=\"#0.0'A'\"\nDescr=\"Value " +
         a + "\"\n";
    pars += "Par" + n + "=\"" + n + ",0\"\n";
  }
  for (int i = 0; i < 10; ++i) {
    const std::string a = std::to_string(200 + i), n = "Enc" + a;
    t += "[" + a + "]\nName=" + n + "\nUseDefinition=@ModBusBaudrate\n";
    pars += "Par" + n + "=\"" + n + ",0\"\n";
  }
  t += "[220]\nName=Config\nType=unsigned short\nDescr[0m1]=A\nDescr[0m1v0]=Off\nDescr[0m1v1]=On\n";
  for (int b = 0; b < 16; ++b)
    pars += "CfgBit" + std::to_string(b) + "=\"Config,0," + std::to_string(b) + "\"\n";
  pars += "CfgField=\"Config,0,0x0030\"\n";
  for (int i = 0; i < 4; ++i) {
    const std::string lo = "PosL" + std::to_string(i), hi = "PosH" + std::to_string(i);
    t += "[" + std::to_string(230 + 2 * i) + "]\nName=" + lo + "\n[" + std::to_string(231 + 2 * i) +
         "]\nName=" + hi + "\n";
    pars += "Par" + lo + "=\"" + lo + "," + hi + ",0\"\n";
  }
  for (int i = 0; i < 2; ++i) {
    const std::string m = "Gain" + std::to_string(i), e = m + "Exp";
    t += "[" + std::to_string(240 + 2 * i) + "]\nName=" + m + "\nUseDefinition=@Frac16Mantissa\n[" +
         std::to_string(241 + 2 * i) + "]\nName=" + e + "\nUseDefinition=@Frac16Exponential\n";
    pars += "Par" + m + "=\"" + m + "," + e + ",0\"\n";
  }
  return t + pars;
}

struct Loaded {
  TkoTextResource predefined;
  TkoRegDefsList list;
  std::unique_ptr<TkoRegDataBuffer> device;
  explicit Loaded(const std::string& file, const std::string& text) {
    predefined.LoadResource(TkoTextResource::kStdFormats);
    predefined.AppendResource(TkoTextResource::kStdDefinitions);
    predefined.AppendResource(TkoTextResource::kEmptyText);
    if (!file.empty()) {
      list.LoadFromFile(file);
    } else {
      list.SetText(text);
    }
    list.ChainResource(&predefined);
    list.BuildDefinitions();
    device = std::make_unique<TkoRegDataBuffer>(&list);
  }
};

int RunParams(const std::vector<std::string>& args) {
  const std::string file = FindShippedModel(args);
  Loaded model(file, file.empty() ? GeneratedModel() : std::string());
  std::printf("model: %s\n", file.empty() ? "generated" : file.c_str());

  std::vector<std::string> entries;
  model.list.ReadSectionValues("Parameters", &entries);
  std::vector<std::unique_ptr<TkoParValue>> pars;
  for (const std::string& line : entries) {
    const std::string value(vx::LineKeyValue(line));
    const auto items = vx::SplitCommaList(value);
    auto p =
        vx::BuildParameter(GuessKind(items, *model.device), std::string_view(value), *model.device);
    if (p) pars.push_back(std::move(p));
  }
  std::printf("parameters: %zu of %zu entries\n", pars.size(), entries.size());
  if (pars.empty()) return 1;

  // Put every parameter on a value worth formatting: its default, else its maximum.
  for (auto& p : pars) {
    if (p->HasDflt()) {
      p->AssignDefault();
    } else if (p->HasMax()) {
      p->SetValue(p->GetMax());
    }
  }

  const int rounds = 20000;
  size_t sink = 0;
  double t0 = vxbench::NowMs();
  for (int r = 0; r < rounds; ++r) {
    for (auto& p : pars) sink += p->GetValueString().size();
  }
  double t1 = vxbench::NowMs();
  vxbench::Figure("par-getvaluestring",
                  (t1 - t0) * 1e6 / (static_cast<double>(rounds) * pars.size()), "ns");

  std::vector<double> values;
  for (auto& p : pars) values.push_back(p->GetValue());
  t0 = vxbench::NowMs();
  for (int r = 0; r < rounds; ++r) {
    for (size_t i = 0; i < pars.size(); ++i) pars[i]->SetValue(values[i] + (r & 1));
  }
  t1 = vxbench::NowMs();
  vxbench::Figure("par-setvalue", (t1 - t0) * 1e6 / (static_cast<double>(rounds) * pars.size()),
                  "ns");

  // 1,000 registers of the usual kinds, saved as a setup section and loaded back.
  std::string big = "[DataModel]\nMaxBufferSize=128\n";
  for (int a = 0; a < 1000; ++a) {
    big += "[" + std::to_string(a) + "]\nName=Reg" + std::to_string(a) + "\n";
    switch (a % 4) {
      case 0:
        big += "Type=unsigned short\nMinValue=0\nMaxValue=1000\nDfltValue=5\n";
        break;
      case 1:
        big += "Type=signed long\nFormatNorm=100\n";
        break;
      case 2:
        big += "Type=signed short\nLength=4\n";
        break;
      default:
        big += "UseDefinition=@ModBusBaudrate\n";
        break;
    }
  }
  Loaded regs("", big);
  for (int i = 0; i < regs.device->RegisterCount(); ++i) {
    regs.device->RegisterByIndex(i)->SetValueInteger(0, i);
  }
  TkoRegBlock all("0/999");
  TkoTextResource setup;
  regs.device->SaveBlocks(&all, "Setup", &setup);
  std::vector<double> ms;
  for (int r = 0; r < 15; ++r) {
    t0 = vxbench::NowMs();
    sink += regs.device->LoadBlocks("Setup", &setup, &all).size();
    ms.push_back(vxbench::NowMs() - t0);
  }
  std::sort(ms.begin(), ms.end());
  vxbench::Figure("loadblocks-1000", ms[ms.size() / 2], "ms");
  return sink == 0 ? 1 : 0;
}

}  // namespace

VX_BENCH(
    "params",
    "[model.par | --generated] parameter text and write per parameter; loading 1,000 registers",
    RunParams);
