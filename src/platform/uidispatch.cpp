#include "platform/uidispatch.h"

#include <atomic>
#include <string>
#include <utility>

#include "platform/koexception.h"

namespace vx {

namespace detail {
struct ReceiverSlot {
  // Serialises delivery against destruction from another thread; recursive because a
  // handler may destroy its own receiver.
  std::recursive_mutex mutex;
  std::atomic<bool> alive{true};
  // Shared so that a handler that destroys its receiver finishes on a live function.
  std::shared_ptr<MessageReceiver::Handler> handler;
};
}  // namespace detail

namespace {
std::mutex& InstallMutex() {
  static std::mutex m;
  return m;
}
UiDispatcher*& Installed() {
  static UiDispatcher* current = nullptr;
  return current;
}
}  // namespace

// ---- receivers ----

bool ReceiverRef::Post(const Message& message) const {
  if (!Alive()) return false;
  UiDispatcher* dispatcher = UiDispatcher::Current();
  return dispatcher != nullptr && dispatcher->Post(*this, message);
}

bool ReceiverRef::Alive() const {
  return slot_ && slot_->alive.load();
}

MessageReceiver::MessageReceiver(Handler handler)
    : slot_(std::make_shared<detail::ReceiverSlot>()) {
  slot_->handler = std::make_shared<Handler>(std::move(handler));
}

MessageReceiver::~MessageReceiver() {
  std::lock_guard guard(slot_->mutex);
  slot_->alive = false;
  slot_->handler.reset();
}

// ---- dispatcher ----

UiDispatcher::UiDispatcher() : uiThread_(std::this_thread::get_id()) {}

UiDispatcher::~UiDispatcher() {
  std::lock_guard guard(InstallMutex());
  if (Installed() == this) Installed() = nullptr;
}

UiDispatcher* UiDispatcher::Install(UiDispatcher* dispatcher) {
  std::lock_guard guard(InstallMutex());
  return std::exchange(Installed(), dispatcher);
}

UiDispatcher* UiDispatcher::Current() {
  std::lock_guard guard(InstallMutex());
  return Installed();
}

UiDispatcher& UiDispatcher::Required(const char* operation) {
  UiDispatcher* dispatcher = Current();
  if (dispatcher == nullptr)
    throw EkoException(std::string(operation) + ": no user-interface dispatcher installed!");
  return *dispatcher;
}

void UiDispatcher::WakeUiWaiters() {
  // Held across the call so that the dispatcher cannot be uninstalled and destroyed
  // between looking it up and notifying it.
  std::lock_guard guard(InstallMutex());
  if (Installed() != nullptr) Installed()->NotifyWaiters();
}

void UiDispatcher::CheckUiThread(const char* operation) const {
  if (!IsUiThread())
    throw EkoException(std::string(operation) + ": not called on the user-interface thread!");
}

bool UiDispatcher::NoteWorkLocked() {
  if (wakePending_) return false;
  wakePending_ = true;
  return true;
}

bool UiDispatcher::HasWorkLocked(bool handOversOnly) const {
  return !handOvers_.empty() || (!handOversOnly && !posted_.empty());
}

void UiDispatcher::HandOver(const std::function<void()>& fn) {
  if (IsUiThread()) {
    fn();
    return;
  }
  HandOverItem item{&fn, false, nullptr};
  bool wake;
  {
    std::lock_guard guard(mutex_);
    handOvers_.push_back(&item);
    wake = NoteWorkLocked();
  }
  workCv_.notify_all();
  if (wake) WakeUi();
  std::unique_lock lock(mutex_);
  doneCv_.wait(lock, [&] { return item.done; });
  if (item.error) std::rethrow_exception(item.error);
}

bool UiDispatcher::Post(const ReceiverRef& receiver, const Message& message) {
  if (!receiver.Alive()) return false;
  bool wake;
  {
    std::lock_guard guard(mutex_);
    posted_.push_back(PostedItem{receiver.slot_, message});
    wake = NoteWorkLocked();
  }
  workCv_.notify_all();
  if (wake) WakeUi();
  return true;
}

void UiDispatcher::NotifyWaiters() {
  {
    std::lock_guard guard(mutex_);
    ++generation_;
  }
  workCv_.notify_all();
}

bool UiDispatcher::RunOneHandOver() {
  HandOverItem* item;
  {
    std::lock_guard guard(mutex_);
    if (handOvers_.empty()) return false;
    item = handOvers_.front();
    handOvers_.pop_front();
  }
  std::exception_ptr error;
  try {
    (*item->fn)();
  } catch (...) {
    error = std::current_exception();
  }
  {
    // The item lives on the waiting worker's stack: not touched once done is set.
    std::lock_guard guard(mutex_);
    item->error = std::move(error);  // the worker alone owns it from here on
    item->done = true;
  }
  doneCv_.notify_all();
  return true;
}

bool UiDispatcher::DeliverOneMessage() {
  PostedItem item;
  {
    std::lock_guard guard(mutex_);
    if (posted_.empty()) return false;
    item = std::move(posted_.front());
    posted_.pop_front();
  }
  std::lock_guard guard(item.slot->mutex);
  if (!item.slot->alive) return true;  // the receiver is gone: dropped
  std::shared_ptr<MessageReceiver::Handler> handler = item.slot->handler;
  (*handler)(item.message);
  return true;
}

std::size_t UiDispatcher::RunHandOvers() {
  CheckUiThread("RunHandOvers");
  std::size_t count = 0;
  while (RunOneHandOver()) ++count;
  return count;
}

std::size_t UiDispatcher::ProcessPending() {
  CheckUiThread("ProcessPending");
  std::size_t messages;
  {
    std::lock_guard guard(mutex_);
    wakePending_ = false;
    messages = posted_.size();
  }
  std::size_t count = RunHandOvers();
  // Only what was queued on entry: a handler that posts again must not keep us here.
  for (std::size_t i = 0; i < messages && DeliverOneMessage(); ++i) ++count;
  return count;
}

std::size_t UiDispatcher::PendingHandOvers() const {
  std::lock_guard guard(mutex_);
  return handOvers_.size();
}

std::size_t UiDispatcher::PendingMessages() const {
  std::lock_guard guard(mutex_);
  return posted_.size();
}

bool UiDispatcher::WaitForWork(Timeout timeout, bool handOversOnly) const {
  std::unique_lock lock(mutex_);
  auto has = [&] { return HasWorkLocked(handOversOnly); };
  if (!timeout) {
    workCv_.wait(lock, has);
    return true;
  }
  return workCv_.wait_for(lock, *timeout, has);
}

bool UiDispatcher::PumpWhile(const std::function<bool()>& ready, Timeout timeout,
                             bool handOversOnly) {
  std::optional<Clock::time_point> deadline;
  if (timeout) deadline = Clock::now() + *timeout;
  for (;;) {
    if (ready()) return true;
    std::uint64_t seen;
    {
      std::lock_guard guard(mutex_);
      seen = generation_;
    }
    if (RunOneHandOver() || (!handOversOnly && DeliverOneMessage())) {
      // A worker that keeps queueing must not hold us past the deadline.
      if (deadline && Clock::now() >= *deadline) return ready();
      continue;
    }
    // Checked again after reading the generation: a change made from here on bumps it.
    if (ready()) return true;
    std::unique_lock lock(mutex_);
    auto woken = [&] { return HasWorkLocked(handOversOnly) || generation_ != seen; };
    if (!deadline) {
      workCv_.wait(lock, woken);
    } else if (!workCv_.wait_until(lock, *deadline, woken)) {
      lock.unlock();
      return ready();
    }
  }
}

bool UiDispatcher::WaitWhileDraining(const std::function<bool()>& ready, Timeout timeout) {
  CheckUiThread("WaitWhileDraining");
  return PumpWhile(ready, timeout, true);
}

void HandOver(const std::function<void()>& fn) {
  UiDispatcher::Required("HandOver").HandOver(fn);
}

}  // namespace vx
