// vx310-bench datamodel: loading data-model files of 1,000, 5,000 and 10,000 registers
// (LoadFromFile plus BuildDefinitions), and one display-unit read and write of a register
// with bounds.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"
#include "regmodel/textresource.h"

namespace {

namespace fs = std::filesystem;

std::unique_ptr<TkoTextResource> MakePredefined() {
  auto r = std::make_unique<TkoTextResource>(TkoTextResource::kStdFormats);
  r->AppendResource(TkoTextResource::kStdDefinitions);
  r->AppendResource(TkoTextResource::kEmptyText);
  return r;
}

// A data-model file shaped like the shipped ones: a head with versions, categories and
// parameters, shared "@" sections, and register sections of about eight keys, a third of
// them redirected to the shared sections or to the built-in texts.
std::string MakeModel(int registers) {
  static const char* const kBuiltinFormats[] = {"@Time_S10",  "@Len_mm100", "@Temp_C10",
                                                "@Volt_V10",  "@Amp_A10",   "@Perc10",
                                                "@Speed_rpm", "@Freq_Hz10", "@Frac16"};
  static const char* const kBuiltinDefs[] = {"@ModBusBaudrate", "@CanBusAddress", "@CanBusBaudrate",
                                             "@ProfiBusAddress", "@Frac16Mantissa"};
  std::string s;
  s.reserve(static_cast<std::size_t>(registers) * 260);
  s += ";=====================================\n;VX310 data model (generated)\n";
  s += "[Versions]\nVersions=\"VX310v2*, VX310-VEv2*\"\nVerDescr=\"Generated model\"\n\n";
  s += "[DataModel]\nMaxBufferSize=200\n\n[Categories]\nActState=\"100,40\"\n"
       "FaultState=\"200,20\"\nRamSetup=\"1000,120\"\nEEPromSetup=\"3000,120\"\n\n";
  s += "[Parameters]\n";
  for (int i = 0; i < 50; ++i)
    s += "ParReg" + std::to_string(i) + "=\"Reg" + std::to_string(1000 + i) + ",0\"\n";
  for (int k = 0; k < 8; ++k) {
    const std::string n = std::to_string(k);
    s += "\n[@Shared" + n +
         "]\nType=signed short\nMinValue=-1000\nMaxValue=1000\nDfltValue=0\n"
         "UseFormat=@Fmt" +
         n + "\nDescr=\"Shared definition " + n +
         "\"\n"
         "Descr[0m0v0]=Off\nDescr[0m0v1]=On\nDescr[0m0v*]=Other\n";
    s += "\n[@Fmt" + n + "]\nFormatNorm=10\nFormatOffset=0\nFormatString=\"#0.0'u'\"\n";
  }
  for (int i = 0; i < registers; ++i) {
    const int addr = 100 + i * 3;
    const std::string a = std::to_string(addr);
    s += "\n[" + a + "]\n";
    s += "Name=Reg" + a + "\n";
    switch (i % 6) {
      case 0:
        s += "UseDefinition=@Shared" + std::to_string(i % 8) + "\n";
        break;
      case 1:
        s += "UseDefinition=" + std::string(kBuiltinDefs[i % 5]) + "\n";
        break;
      case 2:
        s += "Type=unsigned short\nUseFormat=" + std::string(kBuiltinFormats[i % 9]) + "\n";
        break;
      default:
        s += i % 4 == 0 ? "Type=signed long\n" : "Type=unsigned short\n";
        s += "FormatNorm=100\nFormatOffset=0.0\nFormatString=\"#0.00'mm'\"\n";
    }
    s += "MinValue=0\nMaxValue=" + std::to_string(1000 + i) + "\nDfltValue=10\n";
    s += "Descr=\"Register " + a + " description\"\n";
    if (i % 5 == 0) s += "Length=4\nDescr[0]=\"First\"\nDescr[1]=\"Second\"\n";
    if (i % 3 == 0) s += "Descr[0m1]=\"Enable\"\nDescr[0m2v0]=\"Idle\"\nDescr[0m2v2]=\"Run\"\n";
    if (i % 7 == 0) s += "EEPromCopy=+20000\n";
  }
  return s;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Run(const std::vector<std::string>& args) {
  int runs = 9;
  if (!args.empty()) runs = std::max(1, std::atoi(args[0].c_str()));
  const fs::path dir =
      fs::temp_directory_path() / ("vx310-bench-datamodel-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  auto predefined = MakePredefined();
  std::int32_t definitions = 0;
  for (int n : {1000, 5000, 10000}) {
    const fs::path file = dir / ("model" + std::to_string(n) + ".par");
    std::ofstream(file, std::ios::binary) << MakeModel(n);
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
      const double t0 = vxbench::NowMs();
      TkoRegDefsList list;
      list.LoadFromFile(file.string());
      list.ChainResource(predefined.get());
      list.BuildDefinitions();
      ms.push_back(vxbench::NowMs() - t0);
      definitions = list.Count();
    }
    if (definitions < n) {
      std::fprintf(stderr, "datamodel: %d registers built from %d sections\n", definitions, n);
      return 1;
    }
    vxbench::Figure("load-" + std::to_string(n), Median(ms), "ms");
  }
  fs::remove_all(dir);

  TkoRegDefsList list;
  list.SetText(
      "[100]\nName=Speed\nType=signed short\nMinValue=-300\nMaxValue=300\n"
      "FormatNorm=10\nFormatString=\"#0.0'rpm'\"\n");
  list.ChainResource(predefined.get());
  list.BuildDefinitions();
  TkoThreadBuffer image(list.BufferBytes());
  TkoRegister reg(nullptr, list.FindByName("Speed"), image, list);
  if (!reg.HasBounds()) return 1;
  constexpr int kCalls = 1'000'000;
  reg.SetValueDouble(0, 12.5);
  double sum = 0;
  double t0 = vxbench::NowMs();
  for (int i = 0; i < kCalls; ++i) sum += reg.GetValueDouble(0);
  const double getNs = (vxbench::NowMs() - t0) * 1e6 / kCalls;
  t0 = vxbench::NowMs();
  for (int i = 0; i < kCalls; ++i) reg.SetValueDouble(0, (i & 1023) * 0.5 - 200);
  const double setNs = (vxbench::NowMs() - t0) * 1e6 / kCalls;
  if (sum != 12.5 * kCalls) {  // also keeps the reads from being optimised away
    std::fprintf(stderr, "datamodel: unexpected read sum %f\n", sum);
    return 1;
  }
  vxbench::Figure("reg-get-double", getNs, "ns");
  vxbench::Figure("reg-set-double", setNs, "ns");
  return 0;
}

VX_BENCH("datamodel",
         "load data models of 1,000/5,000/10,000 registers; register double get/set [runs]", Run);

}  // namespace
