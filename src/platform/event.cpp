#include "platform/event.h"

#include "platform/uidispatch.h"

namespace vx {

void ManualResetEvent::Set() {
  {
    std::lock_guard guard(mutex_);
    signalled_ = true;
  }
  cv_.notify_all();
  UiDispatcher::WakeUiWaiters();
}

void ManualResetEvent::Reset() {
  std::lock_guard guard(mutex_);
  signalled_ = false;
}

bool ManualResetEvent::IsSet() const {
  std::lock_guard guard(mutex_);
  return signalled_;
}

bool ManualResetEvent::WaitFor(std::chrono::milliseconds timeout) const {
  UiDispatcher* dispatcher = UiDispatcher::Current();
  if (dispatcher != nullptr && dispatcher->IsUiThread())
    return dispatcher->WaitWhileDraining([this] { return IsSet(); }, timeout);
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, timeout, [this] { return signalled_; });
}

void ManualResetEvent::Wait() const {
  UiDispatcher* dispatcher = UiDispatcher::Current();
  if (dispatcher != nullptr && dispatcher->IsUiThread()) {
    dispatcher->WaitWhileDraining([this] { return IsSet(); }, std::nullopt);
    return;
  }
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return signalled_; });
}

}  // namespace vx
