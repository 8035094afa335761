#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "modbus/mbseams.h"
#include "platform/lockedlist.h"
#include "platform/uidispatch.h"
#include "platform/workerthread.h"

class TkoMBThreadSetup;

// The worker thread of one connection. It owns the Modbus server instance while the
// connection is open, opens and closes it as its setup goes on and off line, and runs
// every 100 ms first its own transactions, then those of each attached, enabled device.
// It never calls into the user interface directly: state changes, the release of
// finished transactions and its end-of-thread clean-up run on the user-interface thread
// through the installed dispatcher's blocking hand-over.
class TkoMBThread : public TkoMBObject {
 public:
  using DeviceList = vx::LockedList<TkoMBDevice*>;
  static constexpr std::chrono::milliseconds kCycle{100};

  // Connection states, shared with TkoMBThreadSetup::GetState.
  enum : uint8_t {
    stOffline = 0,
    stDisabled = 1,
    stStarting = 2,
    stRunning = 3,
    stStopping = 4,
    stCommError = 5,
    stOpenError = 6,
    stSetupError = 7,
    stCutOff = 8,
    stNoServer = 9,
  };

  // Starts the worker at once. Throws EkoException without a setup or without an
  // installed user-interface dispatcher (the worker could not hand anything over).
  explicit TkoMBThread(TkoMBThreadSetup* setup);
  // Requests termination and waits for the worker, running its hand-overs meanwhile.
  ~TkoMBThread() override;
  TkoMBThread(const TkoMBThread&) = delete;
  TkoMBThread& operator=(const TkoMBThread&) = delete;

  [[nodiscard]] uint8_t GetState() const { return state_.load(); }
  [[nodiscard]] int32_t GetLastError() const { return lastError_.load(); }
  // None once the setup has abandoned the thread.
  [[nodiscard]] TkoMBThreadSetup* GetSetup() const { return abandoned_.load() ? nullptr : setup_; }
  // Allows the next open attempt after a failed one.
  void ResetError() { lastError_.store(0); }

  // Asks the worker to close the connection and end.
  void Terminate() { worker_.RequestTerminate(); }
  [[nodiscard]] bool TerminateRequested() const { return worker_.TerminateRequested(); }
  // Waits until the worker has ended and its clean-up has run; on the user-interface
  // thread the worker's hand-overs keep running meanwhile. A negative time waits forever.
  bool WaitFor(int ms);
  [[nodiscard]] bool Finished() const { return finished_.IsSet(); }
  // True while one of this worker's hand-overs runs on the user-interface thread: the
  // worker is blocked until it returns, so waiting for the worker there never ends.
  // User-interface thread only.
  [[nodiscard]] bool InHandOver() const { return handOverDepth_ > 0; }
  // For a setup destroyed inside one of the worker's hand-overs: runs the end-of-thread
  // clean-up now (devices detached, own transactions destroyed), cuts every link to the
  // setup and requests termination. The worker then closes the server on its own and,
  // once ended, the object destroys itself on the user-interface thread; the caller
  // must give it up. User-interface thread only.
  void Abandon();
  // Cycles the worker has completed; waiters on the user-interface thread are woken
  // after each.
  [[nodiscard]] uint64_t GetCycleCount() const { return cycles_.load(); }

  void AddDevice(TkoMBDevice* device);
  void RemoveDevice(TkoMBDevice* device);
  [[nodiscard]] DeviceList& GetDevices() { return devices_; }

  void AddTransa(TkoMBTransaction* transa);
  void RemoveTransa(TkoMBTransaction* transa);
  [[nodiscard]] bool HasTransa(TkoMBTransaction* transa) const;
  [[nodiscard]] TkoMBTransaList& GetTransactions() { return transactions_; }

  // Raised by thread-owned transactions on the user-interface thread.
  void DoTransaError(TkoMBTransaction* transa);
  void DoTransaResponse(TkoMBTransaction* transa);
  void DoStateChange(TkoMBObject* obj);

  [[nodiscard]] static std::string GetErrorText(int32_t code);
  // Text of a connection state code (0..9).
  [[nodiscard]] static std::string GetStateText(int code);

  // How workers create the server component; process-wide, read at every open. The
  // default creates the transport library's component.
  static void SetServerFactory(TkoMBServerFactory factory);
  static void ResetServerFactory();

  std::function<void(TkoMBThread*, TkoMBTransaction*)> OnTransaError;
  std::function<void(TkoMBThread*, TkoMBTransaction*)> OnTransaResponse;
  std::function<void(TkoMBThread*, TkoMBObject*)> OnStateChange;
  std::function<void(TkoMBThread*, TkoMBThreadSetup*)> OnRunning;

 private:
  void Execute();
  void SetState(uint8_t code);
  bool OpenServer();
  void CloseServer();
  // One pass over a list; returns the finished transaction to destroy, if any.
  TkoMBTransaction* RunTransactions(TkoMBTransaList& list);
  void RunDevices(std::vector<TkoMBTransaction*>& pendingFree);
  void FreePending(const std::vector<TkoMBTransaction*>& pendingFree);
  void EndOfThread();
  void HandOverSafely(const std::function<void()>& fn);

  TkoMBThreadSetup* const setup_;
  std::atomic<bool> abandoned_{false};  // set on the user-interface thread only
  int handOverDepth_ = 0;               // user-interface thread only
  std::atomic<uint8_t> state_{stOffline};
  std::atomic<int32_t> lastError_{0};
  std::atomic<uint64_t> cycles_{0};
  vx::ManualResetEvent finished_;
  std::unique_ptr<TkoMBServerLink> server_;  // worker thread only
  TkoMBTransaList transactions_;
  DeviceList devices_;
  vx::MessageReceiver reaper_;  // destroys an abandoned thread once its worker has ended
  vx::WorkerThread worker_;     // last: the worker must end before the members above go
};
