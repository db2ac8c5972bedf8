// The owner's event loop: the thread on which a fax component's events run.
// The engine posts work to it; synchronous notifications wait a bounded time
// for the owner and go on without an answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace qc {

class OwnerLoop {
 public:
  using Task = std::function<void()>;
  virtual ~OwnerLoop() = default;

  // Queues a task to run later on the owner's thread. Safe from any thread.
  virtual void Post(Task task) = 0;
  // True when called on the owner's thread (work may then run directly).
  virtual bool OnOwnerThread() const = 0;
  // Lets pending owner work run; called by the synchronous modem exchanges
  // while they wait on the owner's thread so that it stays responsive.
  virtual void ProcessPending() = 0;
};

// How long a synchronous notification waits for the owner.
inline constexpr std::chrono::milliseconds kNotifyWait{1000};

// Runs `fn` on the owner's thread and waits for it at most `limit`. Returns
// true when it ran in time. After a timeout the task is dropped if it has not
// started, so a late owner never sees a stale notification; if it already
// started, the caller waits for it to end so that its captures stay valid.
bool RunOnOwner(OwnerLoop& loop, const std::function<void()>& fn,
                std::chrono::milliseconds limit = kNotifyWait);

// A plain queue-driven loop for programs without a window system (the
// command-line tool, tests). The thread that constructs it is the owner.
class QueuedOwnerLoop : public OwnerLoop {
 public:
  QueuedOwnerLoop();
  void Post(Task task) override;
  bool OnOwnerThread() const override;
  void ProcessPending() override;

  // Runs queued tasks until `done` returns true (checked after each task and
  // on each wake-up) or `limit` passes; true when `done` held.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit);

 private:
  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
};

}  // namespace qc
