// Reads the records of a DiagContext back for assertions.
#pragma once

#include <string>
#include <vector>

#include "base/diag.h"
#include "base/list.h"

namespace volsten::testing {

struct SeenRecord {
  int severity;
  std::string state;
  int native;
  std::string message;
  bool operator==(const SeenRecord&) const = default;
};

inline std::vector<SeenRecord> recordsOf(DiagContext* context) {
  std::vector<SeenRecord> seen;
  for (void* p = listMove(context->records, LIST_FIRST, nullptr); p != nullptr;
       p = listMove(context->records, LIST_NEXT, nullptr)) {
    auto* r = static_cast<DiagRecord*>(p);
    seen.push_back({r->severity, r->state, r->native, r->message});
  }
  return seen;
}

// Every record as "state message" lines, for failure output and whole-text
// comparisons.
inline std::string messagesOf(DiagContext* context) {
  std::string all;
  for (const SeenRecord& r : recordsOf(context)) all += r.state + " " + r.message + "\n";
  return all;
}

}  // namespace volsten::testing
