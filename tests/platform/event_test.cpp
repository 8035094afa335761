#include "platform/event.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

TEST(ManualResetEvent, StateAfterOperations) {
  struct Case {
    const char* name;
    bool initial;
    void (*act)(vx::ManualResetEvent&);
    bool signalled;
  };
  const Case cases[] = {
      {"fresh", false, [](vx::ManualResetEvent&) {}, false},
      {"created signalled", true, [](vx::ManualResetEvent&) {}, true},
      {"set", false, [](vx::ManualResetEvent& e) { e.Set(); }, true},
      {"set twice", false, [](vx::ManualResetEvent& e) { e.Set(), e.Set(); }, true},
      {"set then reset", false, [](vx::ManualResetEvent& e) { e.Set(), e.Reset(); }, false},
      {"reset when signalled", true, [](vx::ManualResetEvent& e) { e.Reset(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vx::ManualResetEvent event(c.initial);
    c.act(event);
    EXPECT_EQ(event.IsSet(), c.signalled);
    // Manual reset: waiting does not consume the signal.
    EXPECT_EQ(event.WaitFor(0ms), c.signalled);
    EXPECT_EQ(event.WaitFor(0ms), c.signalled);
  }
}

TEST(ManualResetEvent, UnsignalledWaitTimesOut) {
  vx::ManualResetEvent event;
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.WaitFor(30ms));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);

  // A negative time only looks, it does not block.
  EXPECT_FALSE(event.WaitFor(-1ms));
}

}  // namespace
