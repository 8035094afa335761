// Writing and reading back the XML text of a network tree of about 1 MB.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench.h"
#include "xml/koxmlparser.h"

namespace {

// A network as the engine keeps it: connections with their setup, devices with theirs.
void BuildNetwork(TkoXmlParser& net, int connections, int devicesPerConnection) {
  auto* root = new TkoXmlElement("modbus_network", "");
  net.AddRoot(root);
  for (int c = 0; c < connections; ++c) {
    auto* conn = new TkoXmlElement("modbus_connection", "");
    root->AddChild(conn);
    conn->SetValue("setup", "threadname",
                   "COM" + std::to_string(c % 8 + 1) + " line " + std::to_string(c));
    conn->SetInteger("setup", "conntype", 1 + c % 2);
    conn->SetInteger("setup", "retries", 3);
    conn->SetInteger("setup", "baudrate", 19200);
    conn->SetInteger("setup", "comport", c % 8 + 1);
    conn->SetInteger("setup", "bytesize", 8);
    conn->SetInteger("setup", "flowctrl", 0);
    conn->SetInteger("setup", "parity", 0);
    conn->SetInteger("setup", "silentint", 5);
    conn->SetInteger("setup", "stopbits", 0);
    conn->SetInteger("setup", "timeout", 500);
    conn->SetInteger("setup", "txmode", 0);
    conn->SetInteger("setup", "tcpipport", 502);
    conn->SetValue("setup", "hostname", "drive-" + std::to_string(c) + ".plant.local");
    conn->SetBool("setup", "enabled", c % 3 != 0);
    for (int d = 0; d < devicesPerConnection; ++d) {
      auto* dev = new TkoXmlElement("device", "");
      conn->AddChild(dev);
      dev->SetValue("setup", "devicename",
                    "VX310 axis " + std::to_string(d) +
                        " \xAB"
                        "Zugf\xFChrung\xBB & <k>");
      dev->SetInteger("setup", "slaveaddress", d + 1);
      dev->SetBool("setup", "enabled", true);
      dev->SetValue(
          "setup", "comment",
          "Station " + std::to_string(c) + ", cabinet \"B\" - 0x" + std::to_string(1000 + d));
      dev->SetInteger("setup", "maxfault", 10);
    }
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int RunXml(const std::vector<std::string>& args) {
  const int runs = args.empty() ? 15 : std::max(1, std::stoi(args[0]));
  TkoXmlParser net;
  BuildNetwork(net, 360, 8);

  std::tm stamp{};
  stamp.tm_year = 126;
  stamp.tm_mday = 1;
  std::string text;
  std::vector<double> writes, reads;
  for (int i = 0; i < runs; ++i) {
    const double t0 = vxbench::NowMs();
    text = net.GetXmlText(stamp);
    writes.push_back(vxbench::NowMs() - t0);
  }
  std::size_t elements = 0;
  for (int i = 0; i < runs; ++i) {
    TkoXmlParser back;
    const double t0 = vxbench::NowMs();
    back.LoadFromBuffer(text.c_str());
    reads.push_back(vxbench::NowMs() - t0);
    elements = back.Root() ? static_cast<std::size_t>(back.Root()->CountChildren("", true)) + 1 : 0;
  }
  // The read must give the tree back, or the figure means nothing.
  TkoXmlParser check;
  check.LoadFromBuffer(text.c_str());
  if (check.GetXmlText(stamp) != text) {
    std::fprintf(stderr, "xml: text read back differs from the text written\n");
    return 1;
  }
  std::printf("xml text: %zu bytes, %zu elements, median of %d runs\n", text.size(), elements,
              runs);
  vxbench::Figure("xml-write-1mb", Median(writes), "ms");
  vxbench::Figure("xml-read-1mb", Median(reads), "ms");
  return 0;
}

}  // namespace

VX_BENCH("xml", "write and read back the XML text of a ~1 MB network tree [runs]", RunXml);
