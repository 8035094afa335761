#pragma once
#include <mutex>
#include <shared_mutex>

namespace vx {

// Many readers or one writer. Register images are read far more often than they are
// written, so readers must not exclude each other.
using RWLock = std::shared_mutex;
using ReadGuard = std::shared_lock<RWLock>;
using WriteGuard = std::unique_lock<RWLock>;

}  // namespace vx
