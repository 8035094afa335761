#include "devices/mbnetwork.h"

#include "devices/devicefactory.h"
#include "devices/devicesetup.h"
#include "devices/supporteddevices.h"
#include "modbus/mbthreadsetup.h"
#include "modbus/mbtransaction.h"

TkoMBNetwork::TkoMBNetwork() : collection_(std::make_unique<TkoDMCollection>()) {
  collection_->OnNoVersion = [this](TkoDMCollection* sender, const TkoVersionRecord* version,
                                    std::string& file) { DoOnNoVersion(sender, version, file); };
  collection_->OnVersion = [this](TkoDMCollection* sender, const TkoVersionRecord* version,
                                  std::string& file) { DoOnVersion(sender, version, file); };
  // A data model must hold what the class of the device it is chosen for uses.
  collection_->NeedsOf = [](const TkoVersionRecord* version) {
    TkoDMCollection::Needs needs;
    if (version == nullptr) return needs;
    const std::string cls = vx::SupportedDeviceClass(*version);
    needs.Categories = vx::DataModelCategoriesOf(cls);
    needs.Parameters = vx::DataModelNeedsParameters(cls);
    return needs;
  };
}

TkoMBNetwork::~TkoMBNetwork() {
  collection_.reset();
}

TkoXmlElement* TkoMBNetwork::AllocXmlElement(TkoXmlElement* parent) {
  const std::string& tag = Scanner().PartName();
  if (vx::SameTextAscii(tag, "modbus_connection")) return new TkoMBThreadSetup();
  if (vx::SameTextAscii(tag, "device")) {
    if (IsDevMaxCount()) {
      PerformOnDevMaxCount(dynamic_cast<TkoMBThreadSetup*>(parent));
      return nullptr;
    }
    return new TkoDeviceSetup();
  }
  return new TkoXmlElement();
}

int32_t TkoMBNetwork::GetDevCount() const {
  TkoXmlElement* root = SearchSubTree(kRootName, "");
  return root ? root->CountChildren("device", true) : 0;
}

TkoMBThreadSetup* TkoMBNetwork::IsDevMaxCount() const {
  TkoXmlElement* root = SearchSubTree(kRootName, "");
  if (!root) return nullptr;
  for (TkoXmlElement* e = root->FindChild("modbus_connection", false); e;
       e = e->FindNext("modbus_connection", false)) {
    auto* conn = dynamic_cast<TkoMBThreadSetup*>(e);
    if (!conn) break;
    if (conn->IsDevMaxCount()) return conn;
  }
  return nullptr;
}

TkoMBThreadSetup* TkoMBNetwork::FindMBThread(const std::string& name) const {
  TkoXmlElement* root = SearchSubTree(kRootName, "");
  if (!root) return nullptr;
  for (TkoXmlElement* e = root->Child(); e; e = e->Next()) {
    auto* conn = dynamic_cast<TkoMBThreadSetup*>(e);
    if (conn && conn->GetThreadName() == name) return conn;
  }
  return nullptr;
}

bool TkoMBNetwork::AddConnection(TkoMBThreadSetup* setup) {
  if (!setup || FindMBThread(setup->GetThreadName())) return false;
  TkoXmlElement* root = SearchSubTree(kRootName, "");
  if (!root) {
    if (Root()) return false;  // a tree of another kind: no place for connections
    AddRoot(new TkoXmlElement(kRootName, ""));
    root = Root();
  }
  root->AddChild(setup);
  PerformSetupAdd(setup);
  setup->SetOnLine(onLine_);
  return true;
}

void TkoMBNetwork::SetOnLine(bool on) {
  if (onLine_ == on) return;
  onLine_ = on;
  PerformStateChange(this);
  TkoXmlElement* root = SearchSubTree(kRootName, "");
  if (!root) return;
  for (TkoXmlElement* e = root->FindChild("modbus_connection", false); e;
       e = e->FindNext("modbus_connection", false))
    if (auto* conn = dynamic_cast<TkoMBThreadSetup*>(e)) conn->SetOnLine(on);
}

void TkoMBNetwork::PerformSetupAdd(TkoMBObject* source) {
  if (OnNetSetupAdd) OnNetSetupAdd(this, source);
}

void TkoMBNetwork::PerformSetupDel(TkoMBObject* source) {
  if (OnNetSetupDel) OnNetSetupDel(this, source);
}

void TkoMBNetwork::PerformSetupChange(TkoMBObject* source) {
  if (OnNetSetupChange) OnNetSetupChange(this, source);
}

void TkoMBNetwork::PerformStateChange(TkoMBObject* source) {
  if (OnNetStateChange) OnNetStateChange(this, source);
}

void TkoMBNetwork::PerformTransaError(TkoMBTransaction* source) {
  if (OnTransaError) OnTransaError(this, source);
}

void TkoMBNetwork::PerformTransaResponse(TkoMBTransaction* source) {
  if (OnTransaResponse) OnTransaResponse(this, source);
}

void TkoMBNetwork::PerformOnDevMaxCount(TkoMBThreadSetup* setup) {
  if (OnDeviceMaxCount) OnDeviceMaxCount(this, setup);
}

void TkoMBNetwork::DoOnNoVersion(TkoDMCollection* sender, const TkoVersionRecord* version,
                                 std::string& fileName) {
  if (OnNoVersion) OnNoVersion(sender, version, fileName);
}

void TkoMBNetwork::DoOnVersion(TkoDMCollection* sender, const TkoVersionRecord* version,
                               std::string& fileName) {
  if (OnVersion) OnVersion(sender, version, fileName);
}

void TkoMBNetwork::ShowSupportedDeviceList() {
  if (OnShowSupportedDeviceList) OnShowSupportedDeviceList(this, collection_.get());
}
