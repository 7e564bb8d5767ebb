// The fuzz targets' check: a broken expectation aborts, which libFuzzer and
// the replay main both report as a finding.
#pragma once

#include <cstdlib>

namespace volsten {

inline void require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace volsten
