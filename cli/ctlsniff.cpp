// vx310ctl sniff: another master's traffic, heard without sending.
#include <cctype>
#include <string>

#include "cli/ctljson.h"
#include "cli/ctlmain.h"
#include "config/inifile.h"
#include "config/portsettings.h"
#include "mbwire/mblisten.h"
#include "mbwire/mbportmap.h"
#include "mbwire/mbresult.h"
#include "modbus/mbthread.h"

namespace vx {

namespace {

constexpr const char* kSettingsFile = "VX310_ConfigTerm.ini";

// The device path of --port: COM1..COM8 through the terminal's port map, or a path.
std::string SerialPath(const CtlOptions& o, CtlStreams s) {
  if (o.Port.rfind("tcp:", 0) == 0)
    throw CtlError{kCtlUsage, "sniff listens on a serial line; " + o.Port + " is a TCP target"};
  std::string head = o.Port.substr(0, 3);
  for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (o.Port.size() == 4 && head == "COM" && o.Port[3] >= '1' && o.Port[3] <= '8') {
    const int com = o.Port[3] - '0';
    std::string problems;
    ApplyPortSettings(TIniFile(kSettingsFile), &problems);
    if (!problems.empty() && !o.Quiet) s.Err << "vx310ctl: " << kSettingsFile << ": " << problems;
    PortTarget target;
    if (TcpTargetOf(com, &target))
      throw CtlError{kCtlUsage, "sniff listens on a serial line; " + o.Port + " leads to tcp:" +
                                    target.Host + ":" + std::to_string(target.TcpPort)};
    return ComPortPath(com);
  }
  return o.Port;
}

std::string Json(const MBTapRecord& r, const MBDecoded& d) {
  CtlJson j;
  j.BeginObject()
      .String("time", MBTimeText(r.timeUs))
      .String("port", r.port)
      .String("dir", MBDirText(r))
      .String("request", MBHex(r.request))
      .String("answer", MBHex(r.answer));
  if (d.slave >= 0) j.Number("slave", d.slave);
  if (d.function >= 0) j.Number("function", d.function);
  if (d.address >= 0) j.Number("address", d.address).Number("count", d.count);
  j.BeginArray("values");
  for (uint16_t v : d.values) j.Number("", v);
  j.EndArray().String("result", MBResultText(d));
  if (r.silenceUs >= 0) j.Number("silence_us", r.silenceUs);
  if (r.roundTripUs >= 0) j.Number("round_trip_us", r.roundTripUs);
  if (r.maxGapUs >= 0) j.Number("gap_us", r.maxGapUs);
  j.EndObject();
  return j.Text();
}

}  // namespace

int CtlSniff(const CtlOptions& o, CtlStreams s) {
  const std::string path = SerialPath(o, s);
  MBSerialSettings line;
  line.baudRate = o.Baud;
  line.parity = o.Parity;
  MBListener listener;
  std::string error;
  if (!listener.Open(path, line, o.Port, &error)) throw CtlError{kCtlNoAnswer, error};
  if (!o.Quiet)
    s.Err << "vx310ctl: listening on " << o.Port << (path != o.Port ? " (" + path + ")" : "")
          << ", nothing is sent; interrupt to stop\n";

  CtlWatching().store(true);
  struct Unwatch {
    ~Unwatch() { CtlWatching().store(false); }
  } unwatch;
  int shown = 0;
  const int32_t rc =
      listener.Run([&] { return CtlInterrupted().load() || (o.Count > 0 && shown >= o.Count); },
                   [&](const MBTapRecord& r) {
                     if (o.Count > 0 && shown >= o.Count) return;
                     const MBDecoded d = MBDecode(r);
                     s.Out << (o.Json ? Json(r, d) : MBTraceText(r, d, std::string())) << std::endl;
                     ++shown;
                   });
  if (rc != mbresult::kOk)
    throw CtlError{kCtlNoAnswer, o.Port + ": " + TkoMBThread::GetErrorText(rc)};
  return kCtlOk;
}

}  // namespace vx
