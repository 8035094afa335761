#include "platform/queuedispatcher.h"

namespace vx {

bool QueueDispatcher::PumpOne(Timeout timeout) {
  CheckUiThread("PumpOne");
  if (RunOneHandOver() || DeliverOneMessage()) return true;
  if (!WaitForWork(timeout, false)) return false;
  return RunOneHandOver() || DeliverOneMessage();
}

bool QueueDispatcher::PumpUntil(const std::function<bool()>& done, Timeout timeout) {
  CheckUiThread("PumpUntil");
  return PumpWhile(done, timeout, false);
}

}  // namespace vx
