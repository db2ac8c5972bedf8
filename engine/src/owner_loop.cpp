#include "engine/owner_loop.h"

#include <algorithm>
#include <memory>

namespace qc {

namespace {

// Shared between the waiting engine and the posted task.
struct Rendezvous {
  std::mutex mutex;
  std::condition_variable cv;
  bool started = false;
  bool finished = false;
  bool abandoned = false;
};

}  // namespace

bool RunOnOwner(OwnerLoop& loop, const std::function<void()>& fn,
                std::chrono::milliseconds limit) {
  if (loop.OnOwnerThread()) {
    fn();
    return true;
  }
  auto meet = std::make_shared<Rendezvous>();
  loop.Post([meet, &fn] {
    {
      std::lock_guard lock(meet->mutex);
      if (meet->abandoned) return;
      meet->started = true;
    }
    fn();
    {
      std::lock_guard lock(meet->mutex);
      meet->finished = true;
    }
    meet->cv.notify_all();
  });
  std::unique_lock lock(meet->mutex);
  if (meet->cv.wait_for(lock, limit, [&] { return meet->finished; })) return true;
  if (!meet->started) {
    meet->abandoned = true;
    return false;
  }
  // The owner took the task just as time ran out: `fn` refers to the caller's
  // frame, so it must end before we return.
  meet->cv.wait(lock, [&] { return meet->finished; });
  return true;
}

QueuedOwnerLoop::QueuedOwnerLoop() : owner_(std::this_thread::get_id()) {}

void QueuedOwnerLoop::Post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

bool QueuedOwnerLoop::OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

void QueuedOwnerLoop::ProcessPending() {
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

bool QueuedOwnerLoop::RunUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    ProcessPending();
    if (done()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    // Wake now and then as well: `done` may turn true without a task.
    std::unique_lock lock(mutex_);
    wake_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(20)),
                     [&] { return !tasks_.empty(); });
  }
}

}  // namespace qc
