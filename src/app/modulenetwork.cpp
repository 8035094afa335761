#include "app/modulenetwork.h"

#include <QDateTime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/appdialogs.h"
#include "config/portsettings.h"
#include "config/setupfile.h"
#include "devices/devicesetup.h"
#include "devices/deviceslave.h"
#include "devices/mbnetwork.h"
#include "devices/vx310.h"
#include "mbwire/mbcodes.h"
#include "mbwire/mbserver.h"
#include "modbus/mbthread.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransaction.h"
#include "modbus/mbtransakinds.h"
#include "paramui/textcodec.h"
#include "paramui/uierror.h"
#include "paramui/userinterfaceutils.h"
#include "regmodel/dmcollection.h"
#include "regmodel/versionrecord.h"

namespace {
const std::string kRule(74, '_');
}  // namespace

TNetwork::TNetwork(TNetworkMainWindow mainWindow)
    : main_(std::move(mainWindow)),
      koMBNetwork_(std::make_unique<TkoMBNetwork>()),
      laterWindow_([this](const vx::Message&) { RunLater(); }) {
  koMBNetwork_->SetFilePath(main_.StartDirectory);
  koMBNetwork_->SetFileExt("par");
  koMBNetwork_->OnNetStateChange = [this](TkoMBNetwork* sender, TkoMBObject* source) {
    vx::RunReportingErrors([&] { koMBNetworkNetStateChange(sender, source); });
  };
  koMBNetwork_->OnTransaError = [this](TkoMBNetwork* sender, TkoMBTransaction* source) {
    vx::RunReportingErrors([&] { koMBNetworkTransaError(sender, source); });
  };
  HookDataModelMessages();
  // The device setup goes with its connection; whoever holds it must know at once.
  koMBNetwork_->OnNetSetupDel = [this](TkoMBNetwork*, TkoMBObject* source) {
    if (source != nullptr && source == static_cast<TkoMBObject*>(deviceSetup_)) {
      ReleaseDrive();
      deviceSetup_ = nullptr;
    }
  };
}

TNetwork::~TNetwork() {
  Disconnect();
  // Nothing the network raises while it goes reaches a half-destroyed supervisor.
  koMBNetwork_->OnNetStateChange = nullptr;
  koMBNetwork_->OnTransaError = nullptr;
  koMBNetwork_->OnNetSetupDel = nullptr;
  koMBNetwork_->OnNoVersion = nullptr;
  koMBNetwork_->DMCollection()->OnRejected = nullptr;
  koMBNetwork_.reset();
}

void TNetwork::Log(const std::string& text) {
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t end = text.find_first_of("\r\n", from);
    if (end == std::string::npos) end = text.size();
    if (main_.AddMessage) main_.AddMessage(text.substr(from, end - from));
    if (end == text.size()) break;
    from = end + 1;
    if (text[end] == '\r' && from < text.size() && text[from] == '\n') ++from;
    if (from == text.size()) break;
  }
}

void TNetwork::Connect(int32_t port, int32_t slave) {
  // Address 0 is the broadcast: no drive answers it, so it cannot be identified.
  if (slave < 1 || slave > 32) {
    vx::ShowMessage(main_.DialogParent, QStringLiteral("Invalid Address value."));
    return;
  }
  ReleaseDrive();
  deviceSetup_ = nullptr;
  koMBNetwork_->ResetAll();
  lastDeviceState_ = TkoDeviceSetup::dsOffline;
  lastSlave_ = nullptr;
  lineSilent_ = false;
  lossReported_ = false;
  SetState(TConnectionState::Offline);

  auto conn = std::make_unique<TkoMBThreadSetup>();
  conn->SetThreadName("COM" + std::to_string(port));
  conn->SetBaudRate(19200);
  conn->SetParity(vx::MBParity::kEven);
  conn->SetFlowCtrl(vx::MBFlowControl::kRtsToggle);
  conn->SetComPort(port);
  conn->SetTimeOut(500);
  conn->SetDevMaxCount(0);
  vx::PortTarget tcp;
  if (vx::TcpTargetOf(port, &tcp)) {
    conn->SetConnType(vx::MBConnType::kTcp);
    conn->SetHostName(tcp.Host);
    conn->SetTcpIpPort(tcp.TcpPort);
  }
  conn->SetEnabled(true);

  auto dev = std::make_unique<TkoDeviceSetup>();
  dev->SetDeviceName("VX310");
  dev->SetDeviceAddr(slave);
  dev->SetRepeatTime(250);
  dev->SetMaxFault(0);
  dev->SetEnabled(true);
  dev->OnSlaveReplace = [this](TkoDeviceSetup*, TkoDeviceSlave* old) {
    vx::RunReportingErrors([&] { DriveReplaced(old); });
  };

  if (!koMBNetwork_->AddConnection(conn.get())) return;
  TkoMBThreadSetup* c = conn.release();
  if (!c->AddDevice(dev.get())) return;
  deviceSetup_ = dev.release();
  koMBNetwork_->SetOnLine(true);
  UpdateWindows();
}

void TNetwork::Disconnect() {
  if (windows_.HideDriveWindows) windows_.HideDriveWindows();
  ReleaseDrive();
  deviceSetup_ = nullptr;
  koMBNetwork_->SetOnLine(false);
  koMBNetwork_->ResetAll();
  lastDeviceState_ = TkoDeviceSetup::dsOffline;
  lastSlave_ = nullptr;
  lineSilent_ = false;
  lossReported_ = false;
  SetState(TConnectionState::Offline);
  UpdateWindows();
}

TkoDeviceVX310* TNetwork::Device() const {
  if (deviceSetup_ == nullptr) return nullptr;
  return dynamic_cast<TkoDeviceVX310*>(deviceSetup_->GetSlave());
}

bool TNetwork::DeviceReady() const {
  // A drive that is not answering, or not yet asked who it is again, is sent nothing.
  return deviceSetup_ != nullptr && status_.State == TConnectionState::Connected &&
         deviceSetup_->GetState() == TkoDeviceSetup::dsReady;
}

void TNetwork::UpdateWindows() {
  if (main_.UpdateActions) main_.UpdateActions();
  if (windows_.UpdateActions) windows_.UpdateActions();
}

void TNetwork::ReleaseDrive() {
  // The lists hold the drive's parameters, which go with it.
  if (main_.ClearStateLists) main_.ClearStateLists();
  if (windows_.ReleaseDrive) windows_.ReleaseDrive();
}

void TNetwork::koMBNetworkNetStateChange(TkoMBNetwork* sender, TkoMBObject* source) {
  if (auto* conn = dynamic_cast<TkoMBThreadSetup*>(source)) {
    switch (conn->GetState()) {
      case TkoMBThread::stOffline:
      case TkoMBThread::stDisabled:
        Log("Connection closed.");
        if (main_.ConnectionRunning) main_.ConnectionRunning(false);
        SetState(TConnectionState::Offline);
        break;
      case TkoMBThread::stRunning:
        Log("Connection started.");
        Log(conn->GetDescription());
        if (main_.ConnectionRunning) main_.ConnectionRunning(true);
        lineSilent_ = false;
        lossReported_ = false;
        SetState(TConnectionState::Identifying);
        break;
      case TkoMBThread::stOpenError:
      case TkoMBThread::stSetupError: {
        Log("Connection error!");
        Log(conn->GetDescription());
        const std::string reason = conn->GetThread() ? conn->GetThread()->GetLastOpenError() : "";
        if (!reason.empty()) Log(reason);
        SetState(TConnectionState::Offline);
        // Shown once the hand-over is over: the connection thread waits for it.
        Later([this, reason] {
          vx::ShowMessage(
              main_.DialogParent,
              QStringLiteral("Connection error!") +
                  (reason.empty() ? QString() : QStringLiteral("\n\r") + vx::ToQString(reason)));
        });
        break;
      }
      case TkoMBThread::stNoServer:
        koMBNetwork_->SetOnLine(false);
        Log("MBServer not registered!");
        SetState(TConnectionState::Offline);
        Later([this] {
          if (!vx::AskYesNo(
                  main_.DialogParent, QStringLiteral("MBServer install"),
                  QStringLiteral("MBServer will be automatically registered.\n\rContinue?")))
            return;
          if (RegisterMBServer(std::string())) {
            Log("MBServer successfully registered.");
            koMBNetwork_->SetOnLine(true);
          } else {
            Log("MBServer registration failed.");
          }
          UpdateWindows();
        });
        break;
      default:
        break;
    }
  } else if (auto* thread = dynamic_cast<TkoMBThread*>(source)) {
    LineReport(thread);
  } else if (source != nullptr && source != static_cast<TkoMBObject*>(sender) &&
             deviceSetup_ != nullptr) {
    // The device's state is that of its transactions once it has been identified, so
    // its changes arrive from the device setup, the slave or one of its transactions.
    DeviceStateChange(deviceSetup_);
  }
  UpdateWindows();
}

void TNetwork::Later(std::function<void()> fn) {
  later_.push_back(std::move(fn));
  (void)laterWindow_.Post(vx::Message{});
}

void TNetwork::RunLater() {
  while (!later_.empty()) {
    std::function<void()> fn = std::move(later_.front());
    later_.pop_front();
    vx::RunReportingErrors(fn);
  }
}

void TNetwork::SetState(TConnectionState state) {
  if (status_.State == state) return;
  status_.State = state;
  status_.Since = std::chrono::system_clock::now();
  if (windows_.ConnectionState) windows_.ConnectionState(status_);
}

void TNetwork::ConfirmLoss() {
  if (status_.State == TConnectionState::Offline) return;
  // Before any drive was found there is nothing to lose: identification goes on.
  if (lastSlave_ == nullptr) return;
  SetState(TConnectionState::NotResponding);
  if (lossReported_) return;
  lossReported_ = true;
  Log("Device is not responding!");
}

void TNetwork::LineReport(TkoMBThread* thread) {
  using Kind = TkoMBThread::LineReport::Kind;
  const TkoMBThread::LineReport& r = thread->GetLineReport();
  const std::string port = thread->GetSetup() ? thread->GetSetup()->GetThreadName() : "";
  switch (r.kind) {
    case Kind::Silent:
      lineSilent_ = true;
      // The stale mark comes with the first exchange that goes unanswered; a drive asked
      // again after a loss that falls silent once more is lost again.
      if (status_.State == TConnectionState::Connected ||
          (status_.State == TConnectionState::Identifying && lossReported_))
        SetState(TConnectionState::NotResponding);
      break;
    case Kind::PortLost:
      lineSilent_ = true;
      Log("Port lost: " + r.Text);
      ConfirmLoss();
      break;
    case Kind::ReopenFailed:
      Log("Port " + port + " not reopened (try " + std::to_string(r.Try) +
          "): " + (r.Text.empty() ? TkoMBThread::GetErrorText(r.Code) : r.Text));
      break;
    case Kind::Reopened:
      Log("Port " + port + " reopened (try " + std::to_string(r.Try) + ").");
      break;
    case Kind::Answering:
      lineSilent_ = false;
      if (status_.State != TConnectionState::NotResponding) break;
      if (!lossReported_) {
        // A silence shorter than one transaction's tries: nothing was lost.
        SetState(TConnectionState::Connected);
      } else if (deviceSetup_ != nullptr) {
        // Whoever answers now is asked who it is before anything is read or sent.
        SetState(TConnectionState::Identifying);
        deviceSetup_->Reidentify();
      }
      break;
  }
}

void TNetwork::DeviceStateChange(TkoDeviceSetup* setup) {
  const uint8_t state = setup->GetState();
  TkoDeviceSlave* slave = setup->GetSlave();
  // Several notifications may tell of one change.
  if (state == lastDeviceState_ && slave == lastSlave_) return;
  const bool newSlave = slave != lastSlave_;
  lastDeviceState_ = state;
  lastSlave_ = slave;
  switch (state) {
    case TkoDeviceSetup::dsReady: {
      // Ready again after a silence no transaction noticed: the line report has told it.
      if (!newSlave && status_.State != TConnectionState::Identifying) break;
      Log("Device found. Communication running.");
      Log(setup->GetDescription());
      lossReported_ = false;
      lineSilent_ = false;
      SetState(TConnectionState::Connected);
      auto* drive = dynamic_cast<TkoDeviceVX310*>(slave);
      if (drive == nullptr) {
        // Whatever a previous drive left in the windows is gone with it.
        ReleaseDrive();
        Log("Device is of the wrong type!");
        return;
      }
      if (newSlave) {
        AttachDrive(drive);
      } else {
        // The drive may have been switched off meanwhile: every value is read again (a
        // read keeps the values edited here and not sent).
        drive->StartSetupRead();
      }
      break;
    }
    case TkoDeviceSetup::dsCommError:
    case TkoDeviceSetup::dsCutOff:
      // A transaction has failed: with the line silent the drive is lost; with answers
      // (exceptions, spoilt frames) the transaction error has said it all.
      if (lineSilent_) ConfirmLoss();
      break;
    default:
      break;
  }
}

void TNetwork::DriveReplaced(TkoDeviceSlave* old) {
  auto* drive = dynamic_cast<TkoDeviceVX310*>(old);
  Log(kRule);
  Log("Warning: another device answers on this connection (it was " + old->GetVersion().ToString() +
      "); it is taken as a new one.");
  if (drive != nullptr && drive->HasLocalEdits()) {
    const std::string file = KeepSetupAside(*drive);
    if (!file.empty())
      Log("The setup changes not sent were kept in \"" + file + "\"; nothing was sent.");
    else
      Log("The setup changes not sent could not be kept; nothing was sent.");
  }
  Log(kRule);
  // The windows let go of the old drive's parameters before they go.
  ReleaseDrive();
  lastSlave_ = nullptr;
}

std::string TNetwork::KeepSetupAside(const TkoDeviceVX310& drive) {
  const std::string stamp =
      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss")).toStdString();
  const std::string base =
      main_.StartDirectory + "unsent-" + drive.GetVersion().ToString() + "-" + stamp;
  std::string file = base + ".310";
  for (int n = 2; std::filesystem::exists(file); ++n)
    file = base + "-" + std::to_string(n) + ".310";
  try {
    vx::ExportSetupFile(drive, vx::ReadSetupFileHeader(main_.SettingsFile), file);
  } catch (const std::exception& e) {
    Log(e.what());
    return std::string();
  }
  return file;
}

void TNetwork::AttachDrive(TkoDeviceVX310* d) {
  d->OnActState = [this](TkoDeviceVXSlave* s, TkoMBTransaction* t) {
    vx::RunReportingErrors([&] { OnActState(s, t); });
  };
  d->OnFaultState = [this](TkoDeviceVXSlave* s, TkoMBTransaction* t) {
    vx::RunReportingErrors([&] { OnFaultState(s, t); });
  };
  d->OnSetupRead = [this](TkoDeviceVXSlave* s, TkoMBTransaction* t) {
    vx::RunReportingErrors([&] { OnSetupRead(s, t); });
  };
  d->OnSetupSent = [this](TkoDeviceVXSlave* s, TkoMBTransaction* t) {
    vx::RunReportingErrors([&] { OnSetupSent(s, t); });
  };
  d->OnSetupSaved = [this](TkoDeviceVXSlave* s, TkoMBTransaction* t) {
    vx::RunReportingErrors([&] { OnSetupSaved(s, t); });
  };
  const auto write = [this](TkoParValue* p) { WriteIfReady(p); };
  for (TkoParValue* p : std::initializer_list<TkoParValue*>{
           d->ParEECurrRangeMax, d->ParCurrRangeMax, d->CmdDriveEnable, d->CmdResetCounter,
           d->CmdZeroing, d->CmdSyncSignal, d->CfgPositionMode, d->ParSpeedRef, d->ParPosPktAccel,
           d->ParPosPktDecel, d->ParPosPktSpeed})
    if (p) p->OnChange = write;
  if (d->ParPosPktTarget)
    d->ParPosPktTarget->OnChange = [this](TkoParValue* p) { WriteRefPosIfReady(p); };

  if (main_.BuildStateLists) main_.BuildStateLists();
  if (windows_.BuildControls) windows_.BuildControls();
  if (windows_.BuildPages) windows_.BuildPages();
}

void TNetwork::koMBNetworkTransaError(TkoMBNetwork*, TkoMBTransaction* source) {
  // A transaction that keeps failing the same way is logged once.
  if (source == nullptr || !source->GetChanged()) return;
  Log("Transaction Error: " + TkoMBThread::GetErrorText(source->GetLastError()));
}

void TNetwork::OnActState(TkoDeviceVXSlave*, TkoMBTransaction* transa) {
  if (main_.RefreshActState) main_.RefreshActState();
  if (windows_.RefreshControls) windows_.RefreshControls();
  if (windows_.FeedScope && transa != nullptr) windows_.FeedScope(transa->GetTimeStamp());
  UpdateWindows();
}

void TNetwork::OnFaultState(TkoDeviceVXSlave*, TkoMBTransaction*) {
  TkoDeviceVX310* d = Device();
  if (d == nullptr) return;
  std::vector<std::string> present;
  d->ReportBits(d->RegActFault1, &present);
  d->ReportBits(d->RegActFault2, &present);
  std::vector<std::string> previous;
  d->ReportBits(d->RegPreFault1, &previous);
  d->ReportBits(d->RegPreFault2, &previous);
  if (main_.SetFaults) main_.SetFaults(present, previous);
}

void TNetwork::OnSetupRead(TkoDeviceVXSlave*, TkoMBTransaction*) {
  if (main_.RefreshHwInfo) main_.RefreshHwInfo();
  Log("Setup dowloaded, data refreshed.");
  if (windows_.SetupRead) windows_.SetupRead();
  UpdateWindows();
}

void TNetwork::OnSetupSent(TkoDeviceVXSlave* sender, TkoMBTransaction*) {
  Log("Setup sent.");
  if (sender) sender->StartSetupRead();
  UpdateWindows();
}

void TNetwork::OnSetupSaved(TkoDeviceVXSlave* sender, TkoMBTransaction*) {
  Log("Setup saved.");
  if (sender) sender->StartSetupRead();
  UpdateWindows();
}

void TNetwork::WriteIfReady(TkoParValue* par) {
  if (par == nullptr || Device() == nullptr || !DeviceReady()) return;
  // The result is not used: a failed write is logged as a transaction error.
  (void)par->WriteNow();
}

void TNetwork::WriteRefPosIfReady(TkoParValue*) {
  TkoDeviceVX310* d = Device();
  if (d == nullptr || !DeviceReady() || d->WriteRefPos == nullptr) return;
  d->WriteRefPos->SetEnabled(true);
}

void TNetwork::HookDataModelMessages() {
  koMBNetwork_->DMCollection()->OnRejected = [this](TkoDMCollection*, const std::string& file,
                                                    const std::string& why) {
    Log("Data model " + file + " not used: it " + why + ".");
  };
  koMBNetwork_->OnNoVersion = [this](TkoDMCollection* sender, const TkoVersionRecord* version,
                                     std::string&) {
    Log("No usable data model for " + (version != nullptr ? version->ToString() : "the device") +
        " in " + sender->FilePath() + ": the device cannot be served.");
  };
}
