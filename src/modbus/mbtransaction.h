#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "modbus/mbseams.h"
#include "platform/event.h"
#include "platform/uidispatch.h"
#include "xml/koxmlelement.h"

// One Modbus request that a connection thread sends, once or periodically, for its
// owner: a slave device or the thread itself. The worker decides when it is due, sends
// it, stores the result, applies the terminate rules and posts a message; the
// user-interface thread then counts the result, applies the cut-off rule and raises the
// error or response events up the chain device, thread, network.
//
// Run, IsDue, CheckTerminate and TxRx run on the worker; everything else on the
// user-interface thread. What both touch is atomic.
class TkoMBTransaction : public TkoXmlElement, public TkoMBObject {
 public:
  // Terminate reasons: bit i disables the transaction after a run that matches it.
  enum TermReason : uint16_t {
    trAlways = 1u << 0,
    trResponse = 1u << 1,
    trError = 1u << 2,
    trException = 1u << 3,
    trErrTimeout = 1u << 4,
    trErrFunc = 1u << 5,
    trErrAddr = 1u << 6,
    trErrValue = 1u << 7,
    trSlaveFail = 1u << 8,
    trAcknoledge = 1u << 9,
    trSlaveBusy = 1u << 10,
  };
  static constexpr int kTermReasonCount = 11;
  [[nodiscard]] static const char* TermReasonName(int bit);

  // Transaction states.
  enum : uint8_t { tsDisabled = 1, tsRunning = 3, tsError = 5, tsCutOff = 8 };
  [[nodiscard]] static std::string StateText(int code);

  // Posted to the transaction's receiver.
  static constexpr uint32_t kMsgResult = 0x0400 + 1;
  static constexpr uint32_t kMsgUser = 0x0400 + 2;

  using Event = std::function<void(TkoMBTransaction* sender)>;

  // Throws EkoException without an owner.
  TkoMBTransaction(TkoMBDevice* device, bool system);
  TkoMBTransaction(TkoMBThread* thread, bool system);
  ~TkoMBTransaction() override;
  TkoMBTransaction(const TkoMBTransaction&) = delete;
  TkoMBTransaction& operator=(const TkoMBTransaction&) = delete;

  void AnalyzeContent() override;
  // Builds the request, exchanges it and handles the response; a result code.
  [[nodiscard]] virtual int32_t TxRx(TkoMBServerLink* server) = 0;
  // 1: not editable.
  virtual int EditDlg(int tag);

  // Worker thread, once a cycle.
  [[nodiscard]] bool IsDue();
  int32_t Run(TkoMBServerLink* server);
  void CheckTerminate();

  [[nodiscard]] TkoMBDevice* GetDevice() const { return device_; }
  [[nodiscard]] TkoMBThread* GetThread() const;
  [[nodiscard]] uint8_t GetSlaveAddress() const;
  [[nodiscard]] int32_t GetMaxFault() const;

  void SetTransaName(const std::string& value);
  void SetComment(const std::string& value);
  void SetSlaveAddress(uint8_t address);
  void SetRepeatTime(int32_t cycles);
  void SetTermDestroy(bool value);
  void SetMaxFault(int32_t value);
  void SetEnabled(bool enabled);
  // Terminate reasons are not persisted; they are set by whoever creates the transaction.
  void SetTermReasons(uint16_t reasons) { termReasons_ = reasons; }
  // Ends the transaction from its handlers as a terminate reason would: disabled without
  // a key written or a notification, and marked Terminated, so that with TermDestroy
  // its thread destroys it once the result is handled. False only clears the mark.
  void SetTerminated(bool value);

  [[nodiscard]] const std::string& GetTransaName() const { return transaName_; }
  [[nodiscard]] const std::string& GetComment() const { return comment_; }
  [[nodiscard]] int32_t GetRepeatTime() const { return repeatTime_.load(); }
  [[nodiscard]] uint32_t GetCountDown() const { return countDown_.load(); }
  [[nodiscard]] bool GetEnabled() const { return enabled_.load(); }
  [[nodiscard]] bool GetBusy() const { return busy_.load(); }
  [[nodiscard]] uint16_t GetTermReasons() const { return termReasons_.load(); }
  [[nodiscard]] bool GetTerminated() const { return terminated_.load(); }
  [[nodiscard]] bool GetTermDestroy() const { return termDestroy_.load(); }
  [[nodiscard]] double GetTimeStamp() const { return timeStamp_.load(); }
  [[nodiscard]] int32_t GetRunCount() const { return runCount_; }
  [[nodiscard]] int32_t GetErrorCount() const { return errorCount_; }
  [[nodiscard]] int32_t GetTimeoutCount() const { return timeoutCount_; }
  [[nodiscard]] bool GetCutOff() const { return cutOff_.load(); }
  [[nodiscard]] int32_t GetLastError() const { return lastError_.load(); }
  [[nodiscard]] bool GetChanged() const { return changed_.load(); }
  [[nodiscard]] bool GetDataChanged() const { return dataChanged_.load(); }
  [[nodiscard]] bool IsSystem() const { return system_; }
  [[nodiscard]] bool IsUserTransa() const { return !system_; }

  // Waits for the current run to be over (the done event); a negative time is the wait
  // limit, 10 s unless set otherwise.
  bool WaitFor(int ms);
  static constexpr std::chrono::milliseconds kDefaultWaitLimit{10000};
  void SetWaitLimit(std::chrono::milliseconds limit) { waitLimit_ = limit; }
  [[nodiscard]] std::chrono::milliseconds GetWaitLimit() const { return waitLimit_; }
  void PostUserMessage(int64_t first, int64_t second);
  virtual void SetDefaultName();
  [[nodiscard]] virtual std::string ClassName() const = 0;
  [[nodiscard]] uint8_t GetState() const;
  [[nodiscard]] std::string GetStateText() const { return StateText(GetState()); }
  [[nodiscard]] std::string GetDescription() const;

  void ResetFault();
  // Makes a periodic transaction due at the next cycle instead of at the end of its period.
  void RunSoon() { countDown_ = 0; }
  void NotifySetupChange();
  void NotifyStateChange();

  Event OnSetupChange;
  Event OnStateChange;
  Event OnResponse;
  Event OnError;
  std::function<void(TkoMBTransaction* sender, int64_t first, int64_t second)> OnUserMessage;

 protected:
  // Sends Query, at most 1 + the component's retry count times; the last result.
  int32_t Exchange(TkoMBServerLink* server);
  // Takes the transaction out of its owner's list (once). The destructor of a kind that
  // owns data its TxRx uses calls it first, so that a worker in the middle of a pass has
  // finished with the transaction before that data goes.
  void Unlink();
  // Names the transaction without writing the key or notifying.
  void SetNameQuietly(const std::string& name) { transaName_ = name; }

  std::vector<uint8_t> Query;
  std::vector<uint8_t> Response;
  std::atomic<bool> dataChanged_{false};

 private:
  void Init(bool system);
  void HandleMessage(const vx::Message& message);
  void HandleResult();
  void CountFault();

  // Expires when the transaction is destroyed; a result handler checks it after each
  // call out.
  std::shared_ptr<const int> life_ = std::make_shared<const int>(0);
  vx::MessageReceiver window_;
  vx::ManualResetEvent done_{true};
  std::chrono::milliseconds waitLimit_ = kDefaultWaitLimit;
  TkoMBDevice* const device_ = nullptr;
  TkoMBThread* const thread_ = nullptr;
  bool system_ = false;
  bool linked_ = false;
  std::string transaName_;
  std::string comment_;
  std::atomic<uint8_t> slaveAddress_{0};
  std::atomic<uint32_t> countDown_{0};
  std::atomic<int32_t> repeatTime_{0};
  std::atomic<bool> enabled_{false};
  std::atomic<bool> busy_{false};
  std::atomic<uint16_t> termReasons_{trAlways};
  std::atomic<bool> terminated_{false};
  std::atomic<bool> termDestroy_{false};
  std::atomic<double> timeStamp_;
  int32_t runCount_ = 0;
  int32_t errorCount_ = 0;
  int32_t timeoutCount_ = 0;
  int32_t maxFault_ = 0;
  std::atomic<bool> cutOff_{false};
  std::atomic<int32_t> lastError_{0};
  std::atomic<bool> changed_{false};
};

namespace vx {
// Destroys every transaction of a list. Each one leaves the list when destroyed; the
// last goes first, so that the list does not shift under the walk, and no lock is held
// while a destructor runs.
void DeleteTransactions(TkoMBTransaList& list);
}  // namespace vx
