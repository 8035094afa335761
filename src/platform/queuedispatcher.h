#pragma once
#include <chrono>
#include <functional>

#include "platform/uidispatch.h"

namespace vx {

// The dispatcher of tests and command-line programs: the thread that constructs it
// plays the user-interface thread and pumps the queue itself.
class QueueDispatcher : public UiDispatcher {
 public:
  QueueDispatcher() = default;

  // Waits up to the timeout for one item (a hand-over first, else a posted message)
  // and processes it. Returns whether one was processed.
  bool PumpOne(Timeout timeout = std::chrono::milliseconds(0));

  // Processes items until done() holds or the timeout passes; returns done(). A worker
  // that makes done() true other than by a hand-over or a message must call
  // NotifyWaiters() (events and worker threads do).
  bool PumpUntil(const std::function<bool()>& done, Timeout timeout);

  // Waits until a worker is blocked in a hand-over, running nothing.
  bool WaitForHandOver(Timeout timeout) const { return WaitForWork(timeout, true); }

  // Processes everything queued now.
  std::size_t PumpPending() { return ProcessPending(); }

 protected:
  // Nothing to wake: the pumping thread waits on the queue itself.
  void WakeUi() override {}
};

}  // namespace vx
