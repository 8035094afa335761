#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vx {

// What a worker posts to a receiver on the user-interface thread.
struct Message {
  std::uint32_t Code = 0;
  std::int64_t First = 0;
  std::int64_t Second = 0;
};

namespace detail {
struct ReceiverSlot;
}

// A handle by which any thread can post to a receiver without touching the receiver
// object; posting to a receiver that has been destroyed is dropped.
class ReceiverRef {
 public:
  ReceiverRef() = default;
  // True when the message was queued: a receiver alive and a dispatcher installed.
  bool Post(const Message& message) const;
  bool Alive() const;

 private:
  friend class MessageReceiver;
  friend class UiDispatcher;
  explicit ReceiverRef(std::shared_ptr<detail::ReceiverSlot> slot) : slot_(std::move(slot)) {}
  std::shared_ptr<detail::ReceiverSlot> slot_;
};

// Receives posted messages on the user-interface thread. Messages still queued when it
// is destroyed are dropped. It may be destroyed inside its own handler.
class MessageReceiver {
 public:
  using Handler = std::function<void(const Message&)>;

  explicit MessageReceiver(Handler handler);
  ~MessageReceiver();
  MessageReceiver(const MessageReceiver&) = delete;
  MessageReceiver& operator=(const MessageReceiver&) = delete;

  bool Post(const Message& message) const { return Ref().Post(message); }
  ReceiverRef Ref() const { return ReceiverRef(slot_); }

 private:
  std::shared_ptr<detail::ReceiverSlot> slot_;
};

// Runs work on the user-interface thread on behalf of workers.
//
// HandOver runs a callable there and blocks the caller until it has run; Post queues a
// message and returns at once. Hand-overs have a queue of their own, so that a wait of
// the user-interface thread for a worker can run them (and nothing else) while it
// waits: a worker blocked in a hand-over and a user-interface thread waiting for that
// worker would deadlock otherwise.
//
// An implementation only supplies WakeUi(): make the user-interface thread call
// ProcessPending() soon. A toolkit implementation posts one wake-up event to an object
// of its own; the plain queue lets the pumping thread wait on the queue itself.
//
// The user-interface thread is the thread that constructs the dispatcher. Workers that
// use it must have ended before it is destroyed.
class UiDispatcher {
 public:
  using Clock = std::chrono::steady_clock;
  using Timeout = std::optional<std::chrono::milliseconds>;  // none: no limit

  virtual ~UiDispatcher();
  UiDispatcher(const UiDispatcher&) = delete;
  UiDispatcher& operator=(const UiDispatcher&) = delete;

  // Runs fn on the user-interface thread and returns when it has run; directly when
  // called there. An exception thrown by fn is rethrown to the caller.
  void HandOver(const std::function<void()>& fn);

  // Queues a message for the receiver; never blocks. False for a dead receiver.
  bool Post(const ReceiverRef& receiver, const Message& message);

  bool IsUiThread() const { return std::this_thread::get_id() == uiThread_; }

  // On the user-interface thread: waits until ready() holds or the timeout passes,
  // running pending hand-overs meanwhile. Whatever makes ready() true must call
  // NotifyWaiters() (events and worker threads do). Returns ready().
  bool WaitWhileDraining(const std::function<bool()>& ready, Timeout timeout);

  // Any thread: something a user-interface wait may be waiting for has changed.
  void NotifyWaiters();

  // On the user-interface thread: runs the hand-overs queued now, then delivers the
  // posted messages queued now. Returns the number of items processed. An exception of
  // a message handler reaches the caller; the rest of the queue stays queued.
  std::size_t ProcessPending();
  std::size_t RunHandOvers();

  std::size_t PendingHandOvers() const;
  std::size_t PendingMessages() const;

  // The process-wide dispatcher; Install returns the one it replaces.
  static UiDispatcher* Install(UiDispatcher* dispatcher);
  static UiDispatcher* Current();
  // The installed dispatcher, or EkoException naming the operation when there is none.
  static UiDispatcher& Required(const char* operation);
  // NotifyWaiters on the installed dispatcher, if any; safe against a concurrent Install.
  static void WakeUiWaiters();

 protected:
  UiDispatcher();

  // Called (outside any lock) when work was queued while no wake-up was outstanding.
  virtual void WakeUi() = 0;

  // For implementations that pump their own loop.
  // Processes queued items one at a time until ready() holds or the timeout passes;
  // with handOversOnly, posted messages stay queued.
  bool PumpWhile(const std::function<bool()>& ready, Timeout timeout, bool handOversOnly);
  // Waits until an item (with handOversOnly, a hand-over) is queued or the timeout
  // passes, processing nothing.
  bool WaitForWork(Timeout timeout, bool handOversOnly) const;
  bool RunOneHandOver();
  bool DeliverOneMessage();
  void CheckUiThread(const char* operation) const;

 private:
  struct HandOverItem {
    const std::function<void()>* fn;
    bool done = false;
    std::exception_ptr error;
  };
  struct PostedItem {
    std::shared_ptr<detail::ReceiverSlot> slot;
    Message message;
  };

  bool NoteWorkLocked();
  bool HasWorkLocked(bool handOversOnly) const;

  const std::thread::id uiThread_;
  mutable std::mutex mutex_;
  mutable std::condition_variable workCv_;  // user-interface side: work queued or a waiter notified
  std::condition_variable doneCv_;          // worker side: a hand-over has run
  std::deque<HandOverItem*> handOvers_;
  std::deque<PostedItem> posted_;
  std::uint64_t generation_ = 0;
  bool wakePending_ = false;
};

// Installs a dispatcher for the lifetime of the scope and restores the previous one.
class ScopedDispatcher {
 public:
  explicit ScopedDispatcher(UiDispatcher& dispatcher)
      : previous_(UiDispatcher::Install(&dispatcher)) {}
  ~ScopedDispatcher() { UiDispatcher::Install(previous_); }
  ScopedDispatcher(const ScopedDispatcher&) = delete;
  ScopedDispatcher& operator=(const ScopedDispatcher&) = delete;

 private:
  UiDispatcher* previous_;
};

// Hand-over through the installed dispatcher.
void HandOver(const std::function<void()>& fn);

}  // namespace vx
