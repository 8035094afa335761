#include "cli/ctlsession.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "config/inifile.h"
#include "config/portsettings.h"
#include "devices/devicesetup.h"
#include "devices/mbnetwork.h"
#include "devices/vxslave.h"
#include "mbwire/mbserial.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransaction.h"
#include "modbus/mbtransakinds.h"
#include "params/parvalue.h"
#include "platform/cp1252.h"
#include "regmodel/regdefslist.h"

namespace vx {

namespace {

// The settings file the terminal keeps in its start folder.
constexpr const char* kSettingsFile = "VX310_ConfigTerm.ini";

// "COM1".."COM8", any letter case: the port number, else 0.
int ComPortNumber(const std::string& port) {
  if (port.size() != 4) return 0;
  std::string head = port.substr(0, 3);
  for (char& c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (head != "COM" || port[3] < '1' || port[3] > '8') return 0;
  return port[3] - '0';
}

}  // namespace

CtlSession::CtlSession(const CtlOptions& options, CtlStreams streams)
    : options_(options), streams_(streams), network_(std::make_unique<TkoMBNetwork>()) {
  network_->SetFilePath(ModelsDir());
  network_->SetFileExt("par");
  network_->OnNetStateChange = [this](TkoMBNetwork*, TkoMBObject* source) {
    OnStateChange(source);
  };
  network_->OnTransaResponse = [this](TkoMBNetwork*, TkoMBTransaction* t) { OnTransaResponse(t); };
  network_->OnTransaError = [this](TkoMBNetwork*, TkoMBTransaction* t) { OnTransaError(t); };
}

CtlSession::~CtlSession() {
  if (drive_ != nullptr) {
    drive_->OnSetupRead = nullptr;
    drive_->OnActState = nullptr;
    drive_->OnFaultState = nullptr;
    drive_->OnSetupSent = nullptr;
    drive_->OnSetupSaved = nullptr;
  }
  network_->OnNetStateChange = nullptr;
  network_->OnTransaResponse = nullptr;
  network_->OnTransaError = nullptr;
  network_->SetOnLine(false);
  network_->ResetAll();
  network_.reset();
}

std::string CtlSession::ModelsDir() const {
  if (!options_.Models.empty()) return options_.Models;
  std::error_code ec;
  const std::filesystem::path here = std::filesystem::current_path(ec);
  return ec ? std::string(".") : here.string();
}

std::string CtlSession::Who() const {
  return "slave " + std::to_string(options_.Slave) + " on " + portName_;
}

void CtlSession::Note(const std::string& line) const {
  if (options_.Verbose && !options_.Quiet)
    streams_.Err << "vx310ctl: " << Cp1252ToUtf8(line) << "\n";
}

void CtlSession::BuildConnection(const std::vector<int>& slaves) {
  auto conn = std::make_unique<TkoMBThreadSetup>();
  conn->SetThreadName(options_.Port);
  conn->SetBaudRate(options_.Baud);
  conn->SetParity(options_.Parity);
  conn->SetFlowCtrl(8);
  conn->SetTimeOut(options_.TimeoutMs);
  conn->SetDevMaxCount(0);

  PortTarget target;
  if (const int com = ComPortNumber(options_.Port); com != 0) {
    // The terminal's port map: section "Ports" of its settings file.
    const TIniFile settings(kSettingsFile);
    std::string problems;
    ApplyPortSettings(settings, &problems);
    if (!problems.empty() && !options_.Quiet)
      streams_.Err << "vx310ctl: " << kSettingsFile << ": " << problems;
    conn->SetComPort(com);
    if (TcpTargetOf(com, &target)) {
      conn->SetConnType(2);
      conn->SetHostName(target.Host);
      conn->SetTcpIpPort(target.TcpPort);
      portName_ =
          options_.Port + " (tcp:" + target.Host + ":" + std::to_string(target.TcpPort) + ")";
    } else {
      portName_ = options_.Port + " (" + ComPortPath(com) + ")";
    }
  } else if (options_.Port.rfind("tcp:", 0) == 0) {
    if (!ParsePortTarget(options_.Port, &target) || !target.Tcp)
      throw CtlError{kCtlUsage,
                     "--port " + options_.Port + ": expected tcp:HOST:PORT with a port 1..65535"};
    conn->SetConnType(2);
    conn->SetHostName(target.Host);
    conn->SetTcpIpPort(target.TcpPort);
    portName_ = options_.Port;
  } else {
    // A device path travels as COM1's mapping: the process has no other port.
    SetComPortPath(1, options_.Port);
    conn->SetComPort(1);
    portName_ = options_.Port;
  }
  conn->SetEnabled(true);

  TkoMBThreadSetup* c = conn.get();
  if (!network_->AddConnection(conn.get()))
    throw CtlError{kCtlUsage, "cannot add the connection " + portName_};
  conn.release();
  connection_ = c;
  for (const int slave : slaves) {
    auto dev = std::make_unique<TkoDeviceSetup>();
    dev->SetDeviceName("VX310-" + std::to_string(slave));
    dev->SetDeviceAddr(slave);
    dev->SetRepeatTime(250);
    dev->SetMaxFault(0);
    dev->SetEnabled(true);
    if (!c->AddDevice(dev.get()))
      throw CtlError{kCtlUsage, "cannot add slave " + std::to_string(slave)};
    devices_.push_back(dev.release());
    identities_.push_back({slave, false, 0, TkoVersionRecord(), nullptr});
  }
}

void CtlSession::OnStateChange(TkoMBObject* source) {
  if (connection_ == nullptr || source != static_cast<TkoMBObject*>(connection_)) return;
  const uint8_t state = connection_->GetState();
  if (state == lastConnState_) return;
  lastConnState_ = state;
  Note(portName_ + ": " + connection_->GetStateText());
  if (state == TkoMBThread::stOpenError || state == TkoMBThread::stSetupError ||
      state == TkoMBThread::stNoServer) {
    const TkoMBThread* thread = connection_->GetThread();
    const int32_t code = thread != nullptr ? thread->GetLastError() : 0;
    failed_ = true;
    failure_ = {kCtlNoAnswer,
                "cannot open " + portName_ + ": " +
                    (code != 0 ? TkoMBThread::GetErrorText(code) : connection_->GetStateText())};
  }
}

void CtlSession::OnTransaResponse(TkoMBTransaction* transa) {
  auto* version = dynamic_cast<TkoMBDeviceVersion*>(transa);
  if (version == nullptr) return;
  const int slave = version->GetSlaveAddress();
  for (std::size_t i = 0; i < identities_.size(); ++i) {
    CtlIdentity& id = identities_[i];
    if (id.Slave != slave || id.Answered) continue;
    id.Answered = true;
    id.Error = 0;
    id.Version = version->GetVersion();
    // The device setup has made its device (or found no data model) before the network
    // hears of the response.
    id.Device = devices_[i]->GetSlave();
    Note("slave " + std::to_string(slave) + ": " + id.Version.ToString() + ", " +
         devices_[i]->GetStateText());
  }
}

void CtlSession::OnTransaError(TkoMBTransaction* transa) {
  if (transa == nullptr) return;
  const int32_t code = transa->GetLastError();
  if (auto* version = dynamic_cast<TkoMBDeviceVersion*>(transa)) {
    for (CtlIdentity& id : identities_)
      if (id.Slave == version->GetSlaveAddress() && !id.Answered && id.Error == 0) {
        id.Error = code != 0 ? code : -1;
        Note("slave " + std::to_string(id.Slave) + ": " + TkoMBThread::GetErrorText(code));
      }
    return;
  }
  if (failed_) return;
  failed_ = true;
  failure_ = {kCtlNoAnswer, Who() + ": " + transa->GetTransaName() +
                                " failed: " + TkoMBThread::GetErrorText(code)};
}

void CtlSession::Wait(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      const std::string& what) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (failed_) throw failure_;
    if (done()) return;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      throw CtlError{kCtlNoAnswer,
                     Who() + ": no " + what + " within " + std::to_string(limit.count()) + " ms"};
    (void)dispatcher_.PumpUntil([&] { return failed_ || done(); },
                                std::min(left, std::chrono::milliseconds(200)));
  }
}

std::vector<CtlIdentity> CtlSession::Identify(const std::vector<int>& slaves,
                                              const std::function<void(int, int)>& progress) {
  BuildConnection(slaves);
  network_->SetOnLine(true);
  // Every address gets one request in the first cycles; one that does not answer costs a
  // time-out (and the line's retries) before the next is asked.
  const auto perSlave = std::chrono::milliseconds(options_.TimeoutMs * 4 + 300);
  const auto limit = std::chrono::milliseconds(3000) + perSlave * static_cast<int>(slaves.size());
  int reported = -1;
  const auto finished = [&] {
    const int done = static_cast<int>(
        std::count_if(identities_.begin(), identities_.end(),
                      [](const CtlIdentity& id) { return id.Answered || id.Error != 0; }));
    if (progress && done != reported) progress(done, static_cast<int>(identities_.size()));
    reported = done;
    return done == static_cast<int>(identities_.size());
  };
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!finished()) {
    if (failed_) throw failure_;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      throw CtlError{kCtlNoAnswer, portName_ + ": identification did not end within " +
                                       std::to_string(limit.count()) + " ms"};
    (void)dispatcher_.PumpUntil([&] { return failed_ || finished(); },
                                std::min(left, std::chrono::milliseconds(200)));
  }
  return identities_;
}

TkoDeviceVXSlave* CtlSession::OpenDrive() {
  const CtlIdentity id = Identify({options_.Slave}).front();
  if (!id.Answered)
    throw CtlError{kCtlNoAnswer,
                   "no answer from " + Who() + ": " + TkoMBThread::GetErrorText(id.Error)};
  if (id.Device == nullptr)
    throw CtlError{kCtlNoModel,
                   Who() + ": no data model for " + id.Version.ToString() + " in " + ModelsDir()};
  auto* drive = dynamic_cast<TkoDeviceVXSlave*>(id.Device);
  if (drive == nullptr)
    throw CtlError{kCtlNoModel,
                   Who() + ": " + id.Version.ToString() + " is not a drive of the VX310's family"};
  drive_ = drive;
  drive->OnSetupRead = [this](TkoDeviceVXSlave*, TkoMBTransaction*) { ++setupReads_; };
  drive->OnActState = [this](TkoDeviceVXSlave*, TkoMBTransaction*) { ++actStates_; };
  drive->OnFaultState = [this](TkoDeviceVXSlave*, TkoMBTransaction*) { ++faultStates_; };
  drive->OnSetupSent = [this](TkoDeviceVXSlave*, TkoMBTransaction*) { ++setupsSent_; };
  drive->OnSetupSaved = [this](TkoDeviceVXSlave*, TkoMBTransaction*) { ++setupsSaved_; };
  return drive;
}

void CtlSession::WaitSetupRead() {
  const uint64_t before = setupReads_;
  if (drive_ == nullptr || drive_->ReadRamSetup == nullptr)
    throw CtlError{kCtlNoModel, Who() + ": the data model has no setup"};
  // The drive reads its setup once by itself right after identification.
  if (before == 0 && drive_->GetSetupState() == TkoDeviceVXSlave::ssNotRead) {
    Wait([&] { return setupReads_ > 0; }, std::chrono::milliseconds(options_.TimeoutMs * 8 + 3000),
         "setup read");
    return;
  }
  drive_->StartSetupRead();
  Wait([&] { return setupReads_ > before; },
       std::chrono::milliseconds(options_.TimeoutMs * 8 + 3000), "setup read");
}

void CtlSession::WaitActState(std::chrono::milliseconds limit) {
  const uint64_t before = actStates_;
  if (limit.count() == 0) limit = std::chrono::milliseconds(options_.TimeoutMs * 4 + 3000);
  Wait([&] { return actStates_ > before; }, limit, "actual state");
}

void CtlSession::WaitFaultState() {
  const uint64_t before = faultStates_;
  // The fault read runs once a second.
  Wait([&] { return faultStates_ > before; },
       std::chrono::milliseconds(options_.TimeoutMs * 4 + 4000), "fault read");
}

void CtlSession::SendSetup(bool save) {
  const uint64_t sent = setupsSent_, saved = setupsSaved_;
  if (drive_ == nullptr || drive_->SendRamSetup == nullptr)
    throw CtlError{kCtlNoModel, Who() + ": the data model has no setup to send"};
  if (save) {
    if (drive_->SaveEEPromSetup == nullptr)
      throw CtlError{kCtlNoModel, Who() + ": the data model has no EEPROM setup"};
    drive_->StartSetupSendAndSave();
  } else {
    drive_->StartSetupSend();
  }
  const auto limit = std::chrono::milliseconds(options_.TimeoutMs * 8 + 3000);
  Wait([&] { return setupsSent_ > sent; }, limit, "answer to the setup sent");
  if (save) Wait([&] { return setupsSaved_ > saved; }, limit, "answer to the EEPROM save");
}

void CtlSession::SaveSetup() {
  const uint64_t saved = setupsSaved_;
  if (drive_ == nullptr || drive_->SaveEEPromSetup == nullptr)
    throw CtlError{kCtlNoModel, Who() + ": the data model has no EEPROM setup"};
  drive_->SaveSetup();
  Wait([&] { return setupsSaved_ > saved; },
       std::chrono::milliseconds(options_.TimeoutMs * 8 + 3000), "answer to the EEPROM save");
}

void CtlSession::WriteNow(TkoParValue* par, const std::string& name) {
  const int32_t rc = par->WriteNow();
  if (rc != 0)
    throw CtlError{kCtlNoAnswer,
                   Who() + ": writing " + name + " failed: " + TkoMBThread::GetErrorText(rc)};
}

}  // namespace vx
