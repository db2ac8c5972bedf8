#include "engine/owner_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qc {
namespace {

TEST(OwnerLoop, RunsDirectlyOnTheOwnersThread) {
  QueuedOwnerLoop loop;
  int calls = 0;
  EXPECT_TRUE(RunOnOwner(loop, [&] { ++calls; }));
  EXPECT_EQ(calls, 1);
}

TEST(OwnerLoop, AnotherThreadWaitsForTheOwner) {
  QueuedOwnerLoop loop;
  std::atomic<bool> ran{false}, answered{false}, done{false};
  std::thread engine([&] {
    answered = RunOnOwner(loop, [&] { ran = true; }, std::chrono::seconds(30));
    done = true;
  });
  EXPECT_TRUE(loop.RunUntil([&] { return done.load(); }, std::chrono::seconds(30)));
  engine.join();
  EXPECT_TRUE(ran);
  EXPECT_TRUE(answered);
}

TEST(OwnerLoop, AnUnansweredNotificationIsDroppedAfterTheLimit) {
  QueuedOwnerLoop loop;
  bool ran = false;
  bool answered = true;
  std::thread engine([&] { answered = RunOnOwner(loop, [&] { ran = true; }, std::chrono::milliseconds(1)); });
  engine.join();  // the owner never looked at its queue
  EXPECT_FALSE(answered);
  loop.ProcessPending();  // late: the stale task must not run
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace qc
