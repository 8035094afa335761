#pragma once
#include <QObject>

#include "platform/uidispatch.h"

namespace vx {

// The user-interface dispatcher of the Qt program. A wake-up is one queued invocation on
// an object living on the GUI thread, which then runs the queued hand-overs and delivers
// the posted messages. Construct it on the GUI thread; its event loop must run for posted messages
// to arrive.
class QtDispatcher : public UiDispatcher {
 public:
  QtDispatcher();
  ~QtDispatcher() override;

 protected:
  // Any thread.
  void WakeUi() override;

 private:
  void Drain();

  // Queued invocations to it die with it, so a wake-up never reaches a dead dispatcher.
  QObject waker_;
};

}  // namespace vx
