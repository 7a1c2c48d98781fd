#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/message_loop.h"
#include "platform/manual_reset_event.h"

namespace quimbel {
namespace {

using namespace std::chrono_literals;

TEST(ManualResetEvent, StopWinsOverKickAndStaysSetUntilReset) {
  EventGroup group;
  ManualResetEvent stop(group), kick(group);
  kick.Set();
  EXPECT_EQ(WaitAny(stop, kick), 1);
  EXPECT_EQ(WaitAny(stop, kick), 1);  // manual reset: still signalled
  stop.Set();
  EXPECT_EQ(WaitAny(stop, kick), 0);
  kick.Reset();
  stop.Reset();
  EXPECT_FALSE(kick.IsSet());

  std::thread setter([&] {
    std::this_thread::sleep_for(20ms);
    kick.Set();
  });
  EXPECT_EQ(WaitAny(stop, kick), 1);
  setter.join();
}

TEST(MessageLoop, PostsFromManyThreadsRunInOrderOnTheLoopThread) {
  MessageLoop loop;
  std::vector<int> seen;  // loop thread only
  const auto loop_thread = std::this_thread::get_id();
  std::atomic<bool> wrong_thread{false};
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t) {
    posters.emplace_back([&, t] {
      for (int i = 0; i < 100; ++i) {
        loop.PostTask([&, t, i] {
          if (std::this_thread::get_id() != loop_thread) wrong_thread = true;
          seen.push_back(t * 1000 + i);
          if (seen.size() == 400) loop.Quit();
        });
      }
    });
  }
  for (auto& p : posters)
    p.join();
  EXPECT_TRUE(loop.Run(MessageLoop::Clock::now() + 10s));
  EXPECT_FALSE(wrong_thread);
  ASSERT_EQ(seen.size(), 400u);
  // Each thread's own posts keep their order.
  for (int t = 0; t < 4; ++t) {
    int last = -1;
    for (int v : seen) {
      if (v / 1000 == t) {
        EXPECT_GT(v % 1000, last);
        last = v % 1000;
      }
    }
  }
}

TEST(MessageLoop, TimersRepeatUntilKilledAndRunEndsAtItsDeadline) {
  MessageLoop loop;
  int fired = 0;
  loop.StartTimer(105, 10ms, [&] {
    if (++fired == 3) loop.KillTimer(105);
  });
  EXPECT_FALSE(loop.Run(MessageLoop::Clock::now() + 200ms));
  EXPECT_EQ(fired, 3);

  // A message posted through the poster reaches the handler on this thread.
  WorkerMessage got{MessageId::kPurgeFileStarted, 0, 0, {}, {}};
  LoopPoster poster(loop, [&](const WorkerMessage& m) {
    got = m;
    loop.Quit();
  });
  std::thread([&] { poster.Post({MessageId::kProbeDone, 7, 10004, "u", {}}); }).join();
  EXPECT_TRUE(loop.Run(MessageLoop::Clock::now() + 5s));
  EXPECT_EQ(got.id, MessageId::kProbeDone);
  EXPECT_EQ(got.param, 10004);
}

}  // namespace
}  // namespace quimbel
