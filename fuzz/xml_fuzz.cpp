// Scanner plus tree building on arbitrary input. Beyond "no crash, no leak, no hang" it
// checks that the writer and reader agree: a tree read from anything, written, read
// back and written again gives the same text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "xml/koxmlparser.h"
#include "xml/xmlscanner.h"

namespace {
std::tm Stamp() {
  std::tm t{};
  t.tm_year = 126;
  t.tm_mon = 0;
  t.tm_mday = 2;
  t.tm_hour = 3;
  return t;
}
}  // namespace

// The entity budget is cut down so that expansion-heavy inputs stay quick to run; the
// code paths that enforce it are the same.
constexpr std::size_t kFuzzExpansion = 64 * 1024;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The raw scanner, without white-space handling, on the text up to the first zero.
  {
    TXmlParser s;
    s.SetBuffer(input.c_str());
    s.SetNormalize(false);
    s.SetEntityExpansionLimit(kFuzzExpansion);
    s.StartScan();
    while (s.Scan()) {
      for (int i = 0; i < s.PartAttributes().Count(); ++i) (void)s.PartAttributes().Value(i).size();
    }
  }
  (void)TXmlParser::Utf8ToAnsi(input);

  TkoXmlParser first;
  first.Scanner().SetEntityExpansionLimit(kFuzzExpansion);
  first.LoadFromBuffer(input.c_str());
  const std::string a = first.GetXmlText(Stamp());
  TkoXmlParser second;
  second.LoadFromBuffer(a.c_str());
  const std::string b = second.GetXmlText(Stamp());
  if (a != b) {
    std::fprintf(stderr, "round trip differs\n--- first\n%s\n--- second\n%s\n", a.c_str(),
                 b.c_str());
    std::abort();
  }
  return 0;
}
