#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
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
//
// No list is held across line I/O: a pass marks the transaction (and the device) it works
// on and releases the list meanwhile, so that state reads on the user-interface thread
// never wait for a time-out; only the removal of that one item waits for its run.
//
// The thread also watches the line itself, exchange by exchange: whether the slave
// answered, fell silent, or the port has gone (a serial device unplugged, a TCP peer
// gone). Each change is posted as a line report and raised on the user-interface thread
// as a state change whose object is the thread (GetLineReport tells what changed). A
// port that has gone is closed and reopened by itself with a growing pause between
// tries, each try reported; the connection stays running meanwhile.
class TkoMBThread : public TkoMBObject {
 public:
  // What the line did, as the thread reports it.
  struct LineReport {
    enum class Kind : uint8_t {
      Answering,     // an exchange was answered (also with an exception or a garbled frame)
      Silent,        // an exchange got no answer in time
      PortLost,      // the port or socket failed: closed, to be reopened
      ReopenFailed,  // a try to reopen it failed; Text says why
      Reopened,      // it is open again
    };
    Kind kind = Kind::Answering;
    int32_t Code = 0;  // the exchange's result (Silent, PortLost)
    int Try = 0;       // the reopen try (ReopenFailed, Reopened), from 1
    std::string Text;  // the reason, naming the port (PortLost, ReopenFailed, Reopened)
  };
  // Pauses between reopen tries: the first, doubled after each failure up to the last.
  static constexpr std::chrono::milliseconds kReopenFirst{250};
  static constexpr std::chrono::milliseconds kReopenMax{2000};

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
  // Why the last open failed as the server component tells it (the port, device path or
  // host and the system's reason); empty after a successful open. Any thread.
  [[nodiscard]] std::string GetLastOpenError() const;
  // The line report being raised, or the last one raised; user-interface thread.
  [[nodiscard]] const LineReport& GetLineReport() const { return lineReport_; }
  // True while the port is closed to be reopened (any thread).
  [[nodiscard]] bool Reopening() const { return reopening_.load(); }
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
  TkoMBTransaction* RunTransactions(TkoMBTransaList& list, bool ofDevice = false);
  void RunDevices(std::vector<TkoMBTransaction*>& pendingFree);
  void FreePending(const std::vector<TkoMBTransaction*>& pendingFree);
  void EndOfThread();
  void HandOverSafely(const std::function<void()>& fn);
  // Worker: the result of one exchange on the line.
  void NoteExchange(int32_t result);
  void SetOpenError(const std::string& reason);
  void Report(LineReport report);
  void DeliverReports();
  // Worker: the port has gone; a try to reopen it when it is due.
  void TryReopen();
  friend class TkoMBLineWatch;

  TkoMBThreadSetup* const setup_;
  std::atomic<bool> abandoned_{false};  // set on the user-interface thread only
  int handOverDepth_ = 0;               // user-interface thread only
  std::atomic<uint8_t> state_{stOffline};
  std::atomic<int32_t> lastError_{0};
  std::atomic<uint64_t> cycles_{0};
  vx::ManualResetEvent finished_;
  std::unique_ptr<TkoMBServerLink> server_;  // worker thread only
  mutable std::mutex textMutex_;
  std::string lastOpenError_;       // under textMutex_
  std::deque<LineReport> reports_;  // under textMutex_: posted, not yet raised
  LineReport lineReport_;           // user-interface thread
  vx::MessageReceiver reportWindow_;
  // Worker only: what the line did last (0 unknown, 1 answering, 2 silent), and the
  // port's state.
  int lineSeen_ = 0;
  bool portLost_ = false;
  std::atomic<bool> reopening_{false};
  int reopenTry_ = 0;
  std::chrono::milliseconds reopenPause_{kReopenFirst};
  std::chrono::steady_clock::time_point reopenAt_{};
  TkoMBTransaList transactions_;
  DeviceList devices_;
  vx::MessageReceiver reaper_;  // destroys an abandoned thread once its worker has ended
  vx::WorkerThread worker_;     // last: the worker must end before the members above go
};
