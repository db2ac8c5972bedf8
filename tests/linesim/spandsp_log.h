// spandsp reports through a message handler without a user pointer; the end
// that is calling into spandsp names itself as the receiver for that time.
#pragma once

#include <functional>
#include <string>

typedef struct logging_state_s logging_state_t;

namespace qc::linesim {

using SpandspLogFn = std::function<void(const std::string&)>;

// Sends the messages of `state` to the current receiver (level FLOW and
// above when `enabled`, else nothing).
void RouteSpandspLog(logging_state_t* state, bool enabled);

// While alive, spandsp messages on this thread go to `fn`.
class SpandspLogScope {
 public:
  explicit SpandspLogScope(const SpandspLogFn* fn);
  ~SpandspLogScope();
  SpandspLogScope(const SpandspLogScope&) = delete;
  SpandspLogScope& operator=(const SpandspLogScope&) = delete;

 private:
  const SpandspLogFn* previous_;
};

}  // namespace qc::linesim
