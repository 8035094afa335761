#pragma once
#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace vx {

// A vector shared between threads. A Pass holds its lock, so that additions and removals
// from other threads wait until the pass ends. ForEachInTurn walks the items without
// holding the lock while it works on one: the item in work is marked, and only its own
// removal (or a WaitIdle on it) waits for that work to end. A worker that does slow
// work per item (line I/O) thus never keeps another thread from reading the list.
//
// The lock is recursive: code run inside a pass (a transaction that removes itself on
// destruction, a state query raised by a notification) re-enters the same list on the
// same thread. A pass that can reach such code must walk the items by index and
// re-read Size() after each call, since the vector may change under it. A thread that
// holds a Pass must not wait for an item in work on another thread (Remove, WaitIdle):
// the worker needs the lock to finish.
template <class T>
class LockedList {
 public:
  // Holds the list's lock from construction to destruction.
  class Pass {
   public:
    Pass(Pass&&) noexcept = default;
    Pass& operator=(Pass&&) noexcept = default;

    std::vector<T>& Items() { return list_->items_; }
    std::size_t Size() const { return list_->items_.size(); }
    T& operator[](std::size_t i) { return list_->items_[i]; }
    auto begin() { return list_->items_.begin(); }
    auto end() { return list_->items_.end(); }

   private:
    friend class LockedList;
    Pass(LockedList* list, std::unique_lock<std::recursive_mutex> guard)
        : list_(list), guard_(std::move(guard)) {}
    LockedList* list_;
    std::unique_lock<std::recursive_mutex> guard_;
  };

  LockedList() = default;
  LockedList(const LockedList&) = delete;
  LockedList& operator=(const LockedList&) = delete;

  [[nodiscard]] Pass Lock() { return Pass(this, std::unique_lock(mutex_)); }

  // A pass only when no other thread holds the list right now.
  [[nodiscard]] std::optional<Pass> TryLock() {
    std::unique_lock guard(mutex_, std::try_to_lock);
    if (!guard.owns_lock()) return std::nullopt;
    return Pass(this, std::move(guard));
  }

  void Add(const T& item) {
    std::lock_guard guard(mutex_);
    items_.push_back(item);
  }

  // Adds the item unless it is in the list already; true when it was added.
  bool AddUnique(const T& item) {
    std::lock_guard guard(mutex_);
    if (std::find(items_.begin(), items_.end(), item) != items_.end()) return false;
    items_.push_back(item);
    return true;
  }

  // Removes the first occurrence; true when there was one. An item in work on another
  // thread is removed once that work has ended.
  bool Remove(const T& item) {
    std::unique_lock guard(mutex_);
    WaitIdleLocked(guard, item);
    auto it = std::find(items_.begin(), items_.end(), item);
    if (it == items_.end()) return false;
    items_.erase(it);
    return true;
  }

  bool Contains(const T& item) const {
    std::lock_guard guard(mutex_);
    return std::find(items_.begin(), items_.end(), item) != items_.end();
  }

  std::size_t Size() const {
    std::lock_guard guard(mutex_);
    return items_.size();
  }

  std::vector<T> Snapshot() const {
    std::lock_guard guard(mutex_);
    return items_;
  }

  // A pass that begins once the item is not in work on another thread: what the work
  // reads of the item may be changed under it.
  [[nodiscard]] Pass LockIdle(const T& item) {
    std::unique_lock guard(mutex_);
    WaitIdleLocked(guard, item);
    return Pass(this, std::move(guard));
  }

  // Calls work(item) for each item in order, without the lock held during the call;
  // stops when it returns false. Items added meanwhile are reached in the same walk;
  // removing the item in work waits until work returns.
  template <class Work>
  void ForEachInTurn(Work&& work) {
    std::unique_lock guard(mutex_);
    std::size_t i = 0;
    while (i < items_.size()) {
      const T item = items_[i];
      inWork_ = item;
      worker_ = std::this_thread::get_id();
      guard.unlock();
      bool goOn = false;
      try {
        goOn = work(item);
      } catch (...) {
        guard.lock();
        EndWorkLocked();
        throw;
      }
      guard.lock();
      EndWorkLocked();
      if (!goOn) break;
      // The item is still there unless this thread removed it; the walk goes on after it.
      const auto it = std::find(items_.begin(), items_.end(), item);
      if (it != items_.end()) i = static_cast<std::size_t>(it - items_.begin()) + 1;
    }
  }

  // True while another thread waits to remove the item in work: a walk over the item's
  // own parts may end early to let it go.
  [[nodiscard]] bool RemovalWaiting() const {
    std::lock_guard guard(mutex_);
    return removalWaiting_ > 0;
  }

 private:
  void WaitIdleLocked(std::unique_lock<std::recursive_mutex>& guard, const T& item) {
    if (!inWork_ || !(*inWork_ == item) || worker_ == std::this_thread::get_id()) return;
    ++removalWaiting_;
    idle_.wait(guard, [&] { return !inWork_ || !(*inWork_ == item); });
    --removalWaiting_;
  }
  void EndWorkLocked() {
    inWork_.reset();
    idle_.notify_all();
  }

  mutable std::recursive_mutex mutex_;
  std::condition_variable_any idle_;
  std::vector<T> items_;
  std::optional<T> inWork_;  // the item ForEachInTurn works on, lock released
  std::thread::id worker_;
  int removalWaiting_ = 0;
};

}  // namespace vx
