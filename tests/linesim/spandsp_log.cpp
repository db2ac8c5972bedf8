#include "spandsp_log.h"

#include <spandsp.h>

namespace qc::linesim {

namespace {
thread_local const SpandspLogFn* current = nullptr;

void Handler(int, const char* text) {
  if (current == nullptr || text == nullptr) return;
  std::string line = text;
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (!line.empty()) (*current)(line);
}
}  // namespace

void RouteSpandspLog(logging_state_t* state, bool enabled) {
  if (state == nullptr) return;
  span_log_set_message_handler(state, Handler);
  span_log_set_level(state, enabled ? (static_cast<int>(SPAN_LOG_SHOW_PROTOCOL) | static_cast<int>(SPAN_LOG_FLOW)) : static_cast<int>(SPAN_LOG_NONE));
}

SpandspLogScope::SpandspLogScope(const SpandspLogFn* fn) : previous_(current) { current = fn; }
SpandspLogScope::~SpandspLogScope() { current = previous_; }

}  // namespace qc::linesim
