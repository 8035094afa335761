#pragma once
#include <algorithm>
#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

namespace vx {

// A vector that one thread holds for a whole pass, so that additions and removals from
// other threads wait until the pass ends.
//
// The lock is recursive: code run inside a pass (a transaction that removes itself on
// destruction, a state query raised by a notification) re-enters the same list on the
// same thread. A pass that can reach such code must walk the items by index and
// re-read Size() after each call, since the vector may change under it.
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

  // Removes the first occurrence; true when there was one.
  bool Remove(const T& item) {
    std::lock_guard guard(mutex_);
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

 private:
  mutable std::recursive_mutex mutex_;
  std::vector<T> items_;
};

}  // namespace vx
