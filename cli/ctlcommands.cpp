// The commands of vx310ctl, each on the engine classes the terminal's windows use.
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

#include "cli/ctljson.h"
#include "cli/ctlmain.h"
#include "cli/ctloptions.h"
#include "cli/ctlsession.h"
#include "config/setupcompare.h"
#include "config/setupfile.h"
#include "devices/vx310.h"
#include "devices/vxslave.h"
#include "modbus/mbthread.h"
#include "params/paredit.h"
#include "params/parencoded.h"
#include "params/parfrac16.h"
#include "platform/cp1252.h"
#include "platform/koexception.h"
#include "regmodel/regblock.h"
#include "regmodel/regdefslist.h"
#include "regmodel/register.h"

namespace vx {

namespace {

constexpr const char* kSettingsFile = "VX310_ConfigTerm.ini";

// Engine text for the terminal or a file: UTF-8.
std::string U(const std::string& cp1252) {
  return Cp1252ToUtf8(cp1252);
}

// A value text as the windows show it ("002.8A", "1'000 stp", "On"), split into its
// number and the unit the number picture appends; a text that is no number has no unit.
void SplitUnit(const std::string& text, std::string* value, std::string* unit) {
  const auto digit = [&](std::size_t k) {
    return k < text.size() && text[k] >= '0' && text[k] <= '9';
  };
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const std::size_t start = i;
  while (digit(i) ||
         (i > start && i < text.size() && (text[i] == '.' || text[i] == '\'') && digit(i + 1)))
    ++i;
  if (i > start && (i < text.size() && (text[i] == 'E' || text[i] == 'e'))) {
    std::size_t k = i + 1;
    if (k < text.size() && (text[k] == '-' || text[k] == '+')) ++k;
    if (digit(k)) {
      i = k;
      while (digit(i)) ++i;
    }
  }
  if (i == start) {
    *value = text;
    unit->clear();
    return;
  }
  *value = text.substr(0, i);
  std::size_t u = i;
  while (u < text.size() && text[u] == ' ') ++u;
  *unit = text.substr(u);
}

// Writes one line of progress over the last when standard error is a terminal.
class Progress {
 public:
  Progress(const CtlOptions& o, CtlStreams s) : on_(s.ErrIsTerminal && !o.Quiet), err_(s.Err) {}
  ~Progress() { Clear(); }
  void Show(const std::string& text) {
    if (!on_) return;
    err_ << "\r" << text << "\033[K" << std::flush;
    shown_ = true;
  }
  void Clear() {
    if (!shown_) return;
    err_ << "\r\033[K" << std::flush;
    shown_ = false;
  }

 private:
  bool on_;
  std::ostream& err_;
  bool shown_ = false;
};

std::string NameOf(const TkoDeviceVXSlave& drive, const TkoParValue* par) {
  for (const auto& p : drive.NamedParameters())
    if (p.Parameter == par) return p.Name;
  return std::string();
}

TkoParValue* FindOrFail(const TkoDeviceVXSlave& drive, const std::string& name) {
  TkoParValue* par = drive.FindParameter(name);
  if (par == nullptr)
    throw CtlError{kCtlUsage,
                   "unknown parameter " + name + " (not a parameter of this drive's data model)"};
  return par;
}

// --- scan and identify ------------------------------------------------------------------

void WriteIdentity(CtlJson& j, const CtlIdentity& id) {
  j.Number("slave", id.Slave).String("version", id.Version.ToString());
  TkoRegDefsList* model = id.Device != nullptr ? id.Device->DefsList() : nullptr;
  j.String("description", model ? model->GetVersionDescr() : std::string());
  j.String("model", model ? model->FileName : std::string());
}

std::string IdentityLine(const CtlIdentity& id) {
  TkoRegDefsList* model = id.Device != nullptr ? id.Device->DefsList() : nullptr;
  char head[64];
  std::snprintf(head, sizeof head, "%3d  %-12s  ", id.Slave, id.Version.ToString().c_str());
  return head + U(model ? model->GetVersionDescr() : "(no data model)") + "  " +
         U(model ? model->FileName : "-");
}

int Scan(const CtlOptions& o, CtlStreams s) {
  CtlSession session(o, s);
  std::vector<int> slaves;
  for (int a = o.SlaveFirst; a <= o.SlaveLast; ++a) slaves.push_back(a);
  Progress progress(o, s);
  const std::vector<CtlIdentity> found = session.Identify(slaves, [&](int done, int total) {
    progress.Show("vx310ctl: scanning " + session.PortName() + ": " + std::to_string(done) +
                  " of " + std::to_string(total) + " addresses asked");
  });
  progress.Clear();
  CtlJson j;
  j.BeginObject().String("port", session.PortName()).BeginArray("drives");
  for (const CtlIdentity& id : found) {
    if (!id.Answered) continue;
    if (o.Json) {
      j.BeginObject();
      WriteIdentity(j, id);
      j.EndObject();
    } else {
      s.Out << IdentityLine(id) << "\n";
    }
  }
  j.EndArray().EndObject();
  if (o.Json) s.Out << j.Text() << "\n";
  return kCtlOk;
}

int Identify(const CtlOptions& o, CtlStreams s) {
  CtlSession session(o, s);
  const CtlIdentity id = session.Identify({o.Slave}).front();
  if (!id.Answered)
    throw CtlError{kCtlNoAnswer,
                   "no answer from " + session.Who() + ": " + TkoMBThread::GetErrorText(id.Error)};
  if (o.Json) {
    CtlJson j;
    j.BeginObject();
    WriteIdentity(j, id);
    j.EndObject();
    s.Out << j.Text() << "\n";
  } else {
    s.Out << IdentityLine(id) << "\n";
  }
  if (id.Device == nullptr)
    throw CtlError{kCtlNoModel, session.Who() + ": no data model for " + id.Version.ToString() +
                                    " in " + session.ModelsDir()};
  return kCtlOk;
}

// --- state and faults -------------------------------------------------------------------

TkoDeviceVX310& Vx310(TkoDeviceVXSlave* drive, const CtlSession& session) {
  auto* d = dynamic_cast<TkoDeviceVX310*>(drive);
  if (d == nullptr)
    throw CtlError{kCtlNoModel, session.Who() + ": not a VX310, whose state lists vx310ctl knows"};
  return *d;
}

// The main window's lists: hardware data, then the actual state.
std::vector<TkoParValue*> StateList(const TkoDeviceVX310& d) {
  std::vector<TkoParValue*> list;
  const auto add = [&](TkoParValue* p) {
    if (p) list.push_back(p);
    return p != nullptr;
  };
  add(d.ParHWLimitVolt);
  if (!add(d.ParEECurrRangeMax)) add(d.ParCurrRangeMax);
  if (!add(d.ParEESpeedRangeMax)) add(d.ParSpeedRangeMax);
  if (!add(d.ParEEPwmFreq)) add(d.ParPwmFreq);
  for (TkoParValue* p :
       {d.ParU_Dc_BusV, d.ParU_MotorV, d.ParI_MotorA, d.ParF_MotorHz, d.ParS_MotorRPM,
        static_cast<TkoParValue*>(d.ParActualPos), static_cast<TkoParValue*>(d.ParEncoderExt),
        static_cast<TkoParValue*>(d.StateSpeedLoop), static_cast<TkoParValue*>(d.StateProfile),
        static_cast<TkoParValue*>(d.StatePosLoop), static_cast<TkoParValue*>(d.StateMotor)})
    add(p);
  return list;
}

std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[96];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return buf;
}

int State(const CtlOptions& o, CtlStreams s) {
  CtlSession session(o, s);
  TkoDeviceVXSlave* drive = session.OpenDrive();
  TkoDeviceVX310& d = Vx310(drive, session);
  session.WaitSetupRead();  // the hardware data
  session.WaitActState();
  const std::vector<TkoParValue*> list = StateList(d);
  if (!o.Watch) {
    CtlJson j;
    j.BeginObject().Number("slave", o.Slave).BeginArray("values");
    for (TkoParValue* p : list) {
      std::string value, unit;
      SplitUnit(p->GetValueString(), &value, &unit);
      if (o.Json) {
        j.BeginObject().String("name", NameOf(d, p)).String("description", p->GetDescr());
        j.String("value", value).String("unit", unit).EndObject();
      } else {
        char name[64];
        std::snprintf(name, sizeof name, "%-20s", NameOf(d, p).c_str());
        s.Out << name << " " << U(value) << (unit.empty() ? "" : " ") << U(unit) << "\n";
      }
    }
    j.EndArray().EndObject();
    if (o.Json) s.Out << j.Text() << "\n";
    return kCtlOk;
  }
  // One line a sample: every cycle, or at the first cycle after each interval.
  CtlWatching().store(true);
  struct Unwatch {
    ~Unwatch() { CtlWatching().store(false); }
  } unwatch;
  auto next = std::chrono::steady_clock::now();
  while (!CtlInterrupted().load()) {
    if (std::chrono::steady_clock::now() >= next) {
      next += std::chrono::milliseconds(o.IntervalMs);
      if (next < std::chrono::steady_clock::now()) next = std::chrono::steady_clock::now();
      CtlJson j;
      j.BeginObject().String("time", Timestamp()).BeginObject("values");
      std::string line = Timestamp();
      for (TkoParValue* p : list) {
        std::string value, unit;
        SplitUnit(p->GetValueString(), &value, &unit);
        j.String(NameOf(d, p), value);
        line += "\t" + NameOf(d, p) + "=" + U(value) + (unit.empty() ? "" : " ") + U(unit);
      }
      j.EndObject().EndObject();
      s.Out << (o.Json ? j.Text() : line) << std::endl;
    }
    session.WaitActState();
  }
  return kCtlOk;
}

int Faults(const CtlOptions& o, CtlStreams s) {
  CtlSession session(o, s);
  TkoDeviceVXSlave* drive = session.OpenDrive();
  TkoDeviceVX310& d = Vx310(drive, session);
  session.WaitFaultState();
  std::vector<std::string> present, previous;
  d.ReportBits(d.RegActFault1, &present);
  d.ReportBits(d.RegActFault2, &present);
  d.ReportBits(d.RegPreFault1, &previous);
  d.ReportBits(d.RegPreFault2, &previous);
  if (o.Json) {
    CtlJson j;
    j.BeginObject().BeginArray("present");
    for (const std::string& f : present) j.String({}, f);
    j.EndArray().BeginArray("previous");
    for (const std::string& f : previous) j.String({}, f);
    j.EndArray().EndObject();
    s.Out << j.Text() << "\n";
    return kCtlOk;
  }
  // As the main window's fault pages show them.
  s.Out << "Present faults:\n";
  if (present.empty()) s.Out << "  - NO ERROR -\n";
  for (const std::string& f : present) s.Out << "  " << U(f) << "\n";
  s.Out << "Previous faults:\n";
  if (previous.empty()) s.Out << "  - NO ERROR -\n";
  for (const std::string& f : previous) s.Out << "  " << U(f) << "\n";
  return kCtlOk;
}

// --- get and set ------------------------------------------------------------------------

// The registers behind a parameter.
std::vector<const TkoRegister*> RegistersOf(const TkoParValue* p) {
  std::vector<const TkoRegister*> regs{p->Register};
  if (auto* l = dynamic_cast<const TkoParLong*>(p); l && l->HighRegister)
    regs.push_back(l->HighRegister);
  if (auto* f = dynamic_cast<const TkoParFrac16*>(p); f && f->ExpRegister)
    regs.push_back(f->ExpRegister);
  if (auto* q = dynamic_cast<const TkoPar2DPoint*>(p); q && q->YRegister)
    regs.push_back(q->YRegister);
  return regs;
}

bool InCategory(TkoDeviceVXSlave& drive, const char* category, const TkoParValue* p) {
  const std::unique_ptr<TkoRegBlock> chain = GetCategory(*drive.DefsList(), category);
  if (!chain) return false;
  for (const TkoRegister* r : RegistersOf(p))
    if (r == nullptr || !chain->Contains(r->Definition()->Address)) return false;
  return true;
}

int Get(const CtlOptions& o, CtlStreams s) {
  CtlSession session(o, s);
  TkoDeviceVXSlave* drive = session.OpenDrive();
  std::vector<std::pair<std::string, TkoParValue*>> wanted;
  for (const std::string& item : o.Items) {
    const std::string name = Utf8ToCp1252(item);
    wanted.emplace_back(name, FindOrFail(*drive, name));
  }
  session.WaitSetupRead();
  session.WaitActState();
  // Registers that no periodic or setup read covers are read now, one by one.
  for (auto& [name, p] : wanted) {
    if (InCategory(*drive, "RamSetup", p) || InCategory(*drive, "ActState", p)) continue;
    const int32_t rc = p->ReadNow();
    if (rc != 0)
      throw CtlError{kCtlNoAnswer, session.Who() + ": reading " + name +
                                       " failed: " + TkoMBThread::GetErrorText(rc)};
  }
  CtlJson j;
  j.BeginObject().Number("slave", o.Slave).BeginArray("parameters");
  for (const auto& [name, p] : wanted) {
    const std::string canonical = NameOf(*drive, p);
    TkoParChoiceList choices;
    p->GetValueList(&choices, false);
    if (o.Json) {
      j.BeginObject().String("name", canonical).String("description", p->GetDescr());
      j.String("value", p->GetValueString());
      if (p->HasMin()) j.String("min", p->GetMinString());
      if (p->HasMax()) j.String("max", p->GetMaxString());
      if (p->HasDflt()) j.String("default", p->GetDfltString());
      j.Bool("readOnly", p->ReadOnly);
      if (dynamic_cast<TkoParEncoded*>(p) != nullptr) {
        j.BeginArray("choices");
        for (const TkoParChoice& c : choices)
          if (c.Tag >= 0) j.String({}, c.Text);
        j.EndArray();
      }
      j.EndObject();
      continue;
    }
    s.Out << canonical << "=" << U(p->GetValueString()) << "\n";
    if (o.Verbose && !o.Quiet) {
      std::string more = "  " + p->GetDescr();
      if (p->HasMin()) more += "; min " + p->GetMinString();
      if (p->HasMax()) more += "; max " + p->GetMaxString();
      if (p->HasDflt()) more += "; default " + p->GetDfltString();
      if (p->ReadOnly) more += "; read-only";
      s.Err << U(more) << "\n";
      if (dynamic_cast<TkoParEncoded*>(p) != nullptr)
        for (const TkoParChoice& c : choices)
          if (c.Tag >= 0) s.Err << "    " << U(c.Text) << "\n";
    }
  }
  j.EndArray().EndObject();
  if (o.Json) s.Out << j.Text() << "\n";
  return kCtlOk;
}

int Set(const CtlOptions& o, CtlStreams s) {
  CtlSession session(o, s);
  TkoDeviceVXSlave* drive = session.OpenDrive();
  struct Assignment {
    std::string Name, Text;
    TkoParValue* Par;
  };
  std::vector<Assignment> list;
  for (const std::string& item : o.Items) {
    const std::string text = Utf8ToCp1252(item);
    const std::size_t eq = text.find('=');
    const std::string name = text.substr(0, eq);
    list.push_back({name, text.substr(eq + 1), FindOrFail(*drive, name)});
  }
  session.WaitSetupRead();
  // Every value is tried on the drive object first and the object put back as it was when
  // one is refused, so that a refusal writes nothing.
  std::vector<uint8_t> before;
  {
    const TkoThreadBuffer::ReadAccess r(*drive->Image());
    before.assign(r.data(), r.data() + drive->Image()->Size());
  }
  for (const Assignment& a : list) {
    std::string why;
    if (!SetParameterText(a.Par, a.Text, &why)) {
      {
        TkoThreadBuffer::WriteAccess w(*drive->Image());
        std::copy(before.begin(), before.end(), w.data());
      }
      throw CtlError{kCtlUsage,
                     a.Name + "=" + U(a.Text) + " refused: " + U(why) + "; nothing written"};
    }
  }
  bool send = false;
  for (const Assignment& a : list) {
    if (InCategory(*drive, "RamSetup", a.Par))
      send = true;
    else
      session.WriteNow(a.Par, a.Name);  // as the terminal writes commands and references
  }
  if (send)
    session.SendSetup(o.Save);
  else if (o.Save)
    session.SaveSetup();
  CtlJson j;
  j.BeginObject().Number("slave", o.Slave).BeginArray("set");
  for (const Assignment& a : list) {
    const std::string name = NameOf(*drive, a.Par);
    if (o.Json)
      j.BeginObject().String("name", name).String("value", a.Par->GetValueString()).EndObject();
    else
      s.Out << name << "=" << U(a.Par->GetValueString()) << "\n";
  }
  j.EndArray().Bool("saved", o.Save).EndObject();
  if (o.Json) s.Out << j.Text() << "\n";
  return kCtlOk;
}

// --- setup files ------------------------------------------------------------------------

// The drive identified and its setup read, each step shown as it starts.
TkoDeviceVXSlave* OpenAndReadSetup(CtlSession& session, Progress& progress) {
  progress.Show("vx310ctl: identifying " + session.Who());
  TkoDeviceVXSlave* drive = session.OpenDrive();
  progress.Show("vx310ctl: reading the setup of " + session.Who());
  session.WaitSetupRead();
  return drive;
}

int Backup(const CtlOptions& o, CtlStreams s) {
  CtlSession session(o, s);
  Progress progress(o, s);
  TkoDeviceVXSlave* drive = OpenAndReadSetup(session, progress);
  progress.Show("vx310ctl: writing " + o.Out);
  try {
    ExportSetupFile(*drive, ReadSetupFileHeader(kSettingsFile), o.Out);
  } catch (const EkoException& e) {
    throw CtlError{kCtlUsage, "cannot write " + o.Out + ": " + e.what()};
  }
  progress.Clear();
  if (o.Json) {
    CtlJson j;
    j.BeginObject().Number("slave", o.Slave).String("version", drive->GetVersion().ToString());
    j.String("file", o.Out).EndObject();
    s.Out << j.Text() << "\n";
  } else if (!o.Quiet) {
    s.Err << "vx310ctl: setup of " << session.Who() << " written to " << o.Out << "\n";
  }
  return kCtlOk;
}

// Reads the file as a text resource first, so that an unreadable or foreign file is
// refused before anything reaches the drive.
void CheckSetupFile(const std::string& file) {
  try {
    TkoTextResource r(file);
    if (!r.FindSection(kSetupSection))
      throw CtlError{kCtlUsage, file + ": not a VX310 setup file (no section [" +
                                    std::string(kSetupSection) + "])"};
  } catch (const EkoException& e) {
    throw CtlError{kCtlUsage, "cannot read " + file + ": " + e.what()};
  }
}

int Restore(const CtlOptions& o, CtlStreams s) {
  CheckSetupFile(o.In);
  CtlSession session(o, s);
  Progress progress(o, s);
  TkoDeviceVXSlave* drive = OpenAndReadSetup(session, progress);
  SetupImport report;
  try {
    report = ImportSetupFile(*drive, o.In);
  } catch (const EkoException& e) {
    throw CtlError{kCtlUsage, "cannot read " + o.In + ": " + e.what()};
  }
  if (report.Loaded == 0)
    throw CtlError{kCtlUsage, o.In + ": no value of this drive's setup in it; nothing sent"};
  progress.Show(std::string("vx310ctl: sending the setup") +
                (o.Save ? " and saving it to EEPROM" : ""));
  session.SendSetup(o.Save);
  progress.Clear();
  std::vector<std::string> excluded, unknown, notFound;
  for (const auto& [name, why] : report.Skipped)
    (why == "Excluded!" ? excluded : why == "UNKNOWN!" ? unknown : notFound).push_back(name);
  if (!o.Quiet) {
    s.Err << "vx310ctl: " << o.In << " (creator \"" << U(report.Creator) << "\", version "
          << U(report.Version) << "): " << report.Loaded << " values taken\n";
    const auto names = [&](const char* what, const std::vector<std::string>& v) {
      if (v.empty()) return;
      std::string line;
      for (const std::string& n : v) line += (line.empty() ? "" : ", ") + n;
      s.Err << "vx310ctl: " << what << ": " << U(line) << "\n";
    };
    names("excluded (outside the setup)", excluded);
    names("unknown (no such register)", unknown);
    names("not taken (no value)", notFound);
    s.Err << "vx310ctl: setup sent to " << session.Who() << (o.Save ? " and saved to EEPROM" : "")
          << "\n";
  }
  if (o.Json) {
    CtlJson j;
    j.BeginObject().Number("slave", o.Slave).String("file", o.In).Number("taken", report.Loaded);
    const auto array = [&](const char* key, const std::vector<std::string>& v) {
      j.BeginArray(key);
      for (const std::string& n : v) j.String({}, n);
      j.EndArray();
    };
    array("excluded", excluded);
    array("unknown", unknown);
    array("notTaken", notFound);
    j.Bool("saved", o.Save).EndObject();
    s.Out << j.Text() << "\n";
  }
  return kCtlOk;
}

int Compare(const CtlOptions& o, CtlStreams s) {
  CheckSetupFile(o.In);
  CtlSession session(o, s);
  TkoDeviceVXSlave* drive = session.OpenDrive();
  session.WaitSetupRead();
  SetupComparison c;
  try {
    c = CompareSetupFile(*drive, o.In);
  } catch (const EkoException& e) {
    throw CtlError{kCtlUsage, "cannot read " + o.In + ": " + e.what()};
  }
  if (o.Json) {
    CtlJson j;
    j.BeginObject().Number("slave", o.Slave).String("file", o.In).BeginArray("differences");
    for (const SetupDifference& d : c.Differences)
      j.BeginObject()
          .String("name", d.Name)
          .String("drive", d.Mine)
          .String("file", d.Other)
          .EndObject();
    j.EndArray().EndObject();
    s.Out << j.Text() << "\n";
  } else {
    for (const SetupDifference& d : c.Differences)
      s.Out << d.Name << "\tdrive: " << U(d.Mine) << "\tfile: " << U(d.Other) << "\n";
    if (!o.Quiet)
      s.Err << "vx310ctl: " << c.Differences.size()
            << (c.Differences.size() == 1 ? " difference" : " differences") << " between "
            << session.Who() << " and " << o.In << "\n";
  }
  return c.Differences.empty() ? kCtlOk : kCtlDiffers;
}

}  // namespace

std::atomic<bool>& CtlInterrupted() {
  static std::atomic<bool> flag{false};
  return flag;
}

std::atomic<bool>& CtlWatching() {
  static std::atomic<bool> flag{false};
  return flag;
}

int RunCtl(std::span<const std::string> args, CtlStreams s) {
  CtlOptions o;
  try {
    o = ParseCtlOptions(args);
    if (o.Help) {
      s.Out << CtlUsage(o.Command);
      return kCtlOk;
    }
    if (o.Command == "scan") return Scan(o, s);
    if (o.Command == "identify") return Identify(o, s);
    if (o.Command == "state") return State(o, s);
    if (o.Command == "faults") return Faults(o, s);
    if (o.Command == "get") return Get(o, s);
    if (o.Command == "set") return Set(o, s);
    if (o.Command == "backup") return Backup(o, s);
    if (o.Command == "restore") return Restore(o, s);
    if (o.Command == "sniff") return CtlSniff(o, s);
    return Compare(o, s);
  } catch (const CtlError& e) {
    s.Err << "vx310ctl: " << Cp1252ToUtf8(e.Message) << "\n";
    if (o.Json) {
      CtlJson j;
      j.BeginObject().Number("exit", e.Code).String("error", e.Message).EndObject();
      s.Out << j.Text() << "\n";
    }
    return e.Code;
  } catch (const EkoException& e) {
    // An engine error no command expected: a fault of the data model or the program.
    s.Err << "vx310ctl: " << Cp1252ToUtf8(e.what()) << "\n";
    return kCtlUsage;
  }
}

}  // namespace vx
