#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "modbus/mbseams.h"
#include "regmodel/dmcollection.h"
#include "xml/koxmlparser.h"

class TkoMBThreadSetup;
class TkoMBTransaction;
class TkoVersionRecord;

// The component through which an application uses the Modbus engine: an XML parser
// component whose tree holds the connections ("modbus_connection") and their devices
// ("device") below the root "modbus_network". It owns the data-model collection that
// identification consults, puts all connections on and off line together, enforces the
// device-count limit and raises one set of events for every addition, deletion, change,
// state change, version lookup and transaction result of the whole engine.
//
// The component and its tree belong to the user-interface thread.
// It is itself the source of the state change its SetOnLine raises.
class TkoMBNetwork : public TkoXmlParser, public TkoMBNetworkEvents, public TkoMBObject {
 public:
  using SourceEvent = std::function<void(TkoMBNetwork* sender, TkoMBObject* source)>;
  using TransaEvent = std::function<void(TkoMBNetwork* sender, TkoMBTransaction* source)>;
  using SetupEvent = std::function<void(TkoMBNetwork* sender, TkoMBThreadSetup* source)>;
  // (collection, version, file name in and out): a handler may name another file.
  using VersionEvent = TkoDMCollection::VersionEvent;

  TkoMBNetwork();
  // The collection goes first, then the tree with every connection (each stops and
  // waits for its thread). While the tree goes the component is no longer a network:
  // nothing is raised.
  ~TkoMBNetwork() override;

  // Element factory of the reader: connection and device setups for their tags (a
  // device refused when a connection is at its limit, its tag skipped), plain elements
  // otherwise.
  TkoXmlElement* AllocXmlElement(TkoXmlElement* parent) override;

  // Device setups anywhere below the root; 0 without one.
  [[nodiscard]] int32_t GetDevCount() const override;
  // Most device setups in the network; 0 or less: no limit.
  [[nodiscard]] int32_t GetDevMaxCount() const override { return devMaxCount_; }
  void SetDevMaxCount(int32_t value) { devMaxCount_ = value; }
  // The first connection that can take no further device, or none.
  [[nodiscard]] TkoMBThreadSetup* IsDevMaxCount() const;
  // The connection of that name (exact), or none.
  [[nodiscard]] TkoMBThreadSetup* FindMBThread(const std::string& name) const;
  // Appends the connection below the root (made when missing) and puts it on line when
  // the network is. False, and the setup stays the caller's, for none or a name already
  // present; true hands it over to the tree.
  bool AddConnection(TkoMBThreadSetup* setup);

  [[nodiscard]] bool GetOnLine() const { return onLine_; }
  // Raises one state change, then starts or stops every connection.
  void SetOnLine(bool on);

  void PerformSetupAdd(TkoMBObject* source) override;
  void PerformSetupDel(TkoMBObject* source) override;
  void PerformSetupChange(TkoMBObject* source) override;
  void PerformStateChange(TkoMBObject* source) override;
  void PerformTransaError(TkoMBTransaction* source) override;
  void PerformTransaResponse(TkoMBTransaction* source) override;
  void PerformOnDevMaxCount(TkoMBThreadSetup* setup) override;
  void DoOnNoVersion(TkoDMCollection* sender, const TkoVersionRecord* version,
                     std::string& fileName);
  void DoOnVersion(TkoDMCollection* sender, const TkoVersionRecord* version, std::string& fileName);

  [[nodiscard]] TkoDMCollection* DMCollection() const { return collection_.get(); }
  [[nodiscard]] std::string GetFilePath() const { return collection_->FilePath(); }
  void SetFilePath(const std::string& path) { collection_->SetFilePath(path); }
  [[nodiscard]] std::string GetFileExt() const { return collection_->FileExt; }
  void SetFileExt(const std::string& ext) { collection_->FileExt = ext; }
  [[nodiscard]] std::string GetDfltFile() const { return collection_->DfltFile; }
  void SetDfltFile(const std::string& file) { collection_->DfltFile = file; }

  // Shows the supported-device list with this component's collection, through the
  // hook the application sets (the engine has no windows); nothing without one.
  void ShowSupportedDeviceList();
  std::function<void(TkoMBNetwork* sender, TkoDMCollection* collection)> OnShowSupportedDeviceList;

  SourceEvent OnNetSetupAdd;
  SourceEvent OnNetSetupDel;
  SourceEvent OnNetSetupChange;
  SourceEvent OnNetStateChange;
  VersionEvent OnNoVersion;
  VersionEvent OnVersion;
  SetupEvent OnDeviceMaxCount;
  TransaEvent OnTransaError;
  TransaEvent OnTransaResponse;

  static constexpr const char* kRootName = "modbus_network";

 private:
  bool onLine_ = false;
  int32_t devMaxCount_ = 0;
  std::unique_ptr<TkoDMCollection> collection_;
};
