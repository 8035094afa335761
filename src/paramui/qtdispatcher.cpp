#include "paramui/qtdispatcher.h"

#include <QMetaObject>

#include "paramui/uierror.h"

namespace vx {

// The waker belongs to the constructing thread, which is the user-interface thread.
QtDispatcher::QtDispatcher() = default;

QtDispatcher::~QtDispatcher() = default;

void QtDispatcher::WakeUi() {
  QMetaObject::invokeMethod(
      &waker_, [this] { Drain(); }, Qt::QueuedConnection);
}

void QtDispatcher::Drain() {
  if (RunReportingErrors([this] { ProcessPending(); })) return;
  // A handler threw: what was queued behind it stays queued and no wake-up is
  // outstanding any more, so ask for another round.
  if (PendingHandOvers() + PendingMessages() > 0) WakeUi();
}

}  // namespace vx
