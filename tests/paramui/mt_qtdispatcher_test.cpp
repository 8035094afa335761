#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "paramui/qtdispatcher.h"
#include "paramui/uierror.h"
#include "qtapp.h"

namespace {

using namespace std::chrono_literals;

class QtDispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { vxtest::App(); }

  // Runs the event loop until quit or the generous deadline; true when quit in time.
  static bool RunLoop(QEventLoop& loop) {
    QTimer::singleShot(60s, &loop, [&loop] { loop.exit(1); });
    return loop.exec() == 0;
  }

  vx::QtDispatcher dispatcher;
  vx::ScopedDispatcher scope{dispatcher};
};

TEST_F(QtDispatcherTest, WorkerHandsOverAndPostsIntoTheEventLoop) {
  QEventLoop loop;
  std::vector<std::uint32_t> received;
  vx::MessageReceiver receiver([&](const vx::Message& m) {
    received.push_back(m.Code);
    if (m.Code == 2) loop.quit();
  });
  std::thread::id handedOverOn;
  std::thread worker([&] {
    vx::HandOver([&] { handedOverOn = std::this_thread::get_id(); });
    receiver.Post({1, 0, 0});
    receiver.Post({2, 0, 0});
  });
  const bool quit = RunLoop(loop);
  worker.join();
  ASSERT_TRUE(quit);
  EXPECT_EQ(handedOverOn, std::this_thread::get_id());
  EXPECT_EQ(received, (std::vector<std::uint32_t>{1, 2}));
}

TEST_F(QtDispatcherTest, WaitOnTheGuiThreadDrainsHandOversButNoEvents) {
  bool timerRan = false;
  QTimer::singleShot(0, [&] { timerRan = true; });
  int delivered = 0;
  vx::MessageReceiver receiver([&](const vx::Message&) { ++delivered; });
  std::atomic<bool> done{false};
  bool handedOver = false;
  std::thread worker([&] {
    vx::HandOver([&] { handedOver = true; });
    receiver.Post({7, 0, 0});
    done = true;
    vx::UiDispatcher::WakeUiWaiters();
  });
  const bool ready = dispatcher.WaitWhileDraining([&] { return done.load(); }, 60s);
  worker.join();
  ASSERT_TRUE(ready);
  EXPECT_TRUE(handedOver);
  // Neither Qt events nor posted messages ran inside the wait.
  EXPECT_FALSE(timerRan);
  EXPECT_EQ(delivered, 0);
  EXPECT_EQ(dispatcher.PendingMessages(), 1u);

  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (delivered == 1 && timerRan) loop.quit();
  });
  poll.start(1);
  ASSERT_TRUE(RunLoop(loop));
  EXPECT_EQ(delivered, 1);
}

TEST_F(QtDispatcherTest, AThrowingHandlerIsReportedAndTheQueueGoesOn) {
  std::vector<std::string> errors;
  vx::UiErrorHandler previous =
      vx::SetUiErrorHandler([&](const std::string& m) { errors.push_back(m); });
  QEventLoop loop;
  std::vector<std::uint32_t> received;
  vx::MessageReceiver receiver([&](const vx::Message& m) {
    received.push_back(m.Code);
    if (m.Code == 1) throw std::runtime_error("handler failed");
    loop.quit();
  });
  std::thread worker([&] {
    receiver.Post({1, 0, 0});
    receiver.Post({2, 0, 0});
  });
  const bool quit = RunLoop(loop);
  worker.join();
  vx::SetUiErrorHandler(previous);
  ASSERT_TRUE(quit);
  EXPECT_EQ(received, (std::vector<std::uint32_t>{1, 2}));
  EXPECT_EQ(errors, (std::vector<std::string>{"handler failed"}));
}

}  // namespace
