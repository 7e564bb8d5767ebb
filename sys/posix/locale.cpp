#include "sys/locale.h"

#include <cstdlib>
#include <cstring>

namespace volsten {
namespace {

// strcoll wants NUL-terminated texts: short ones are copied to the stack.
class Terminated {
 public:
  Terminated(const char* text, int32_t length) {
    size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    data_ = n < sizeof(local_) ? local_ : static_cast<char*>(std::malloc(n + 1));
    if (data_ != nullptr) {
      if (n > 0) std::memcpy(data_, text, n);
      data_[n] = '\0';
    }
  }
  ~Terminated() {
    if (data_ != local_) std::free(data_);
  }
  Terminated(const Terminated&) = delete;
  Terminated& operator=(const Terminated&) = delete;
  const char* get() const { return data_; }

 private:
  char local_[256];
  char* data_;
};

}  // namespace

int sysCompareLocale(const char* a, int32_t aLength, const char* b, int32_t bLength) {
  Terminated ta(a, aLength), tb(b, bLength);
  if (ta.get() == nullptr || tb.get() == nullptr) return 0;
  int c = std::strcoll(ta.get(), tb.get());
  return c < 0 ? 1 : (c == 0 ? 2 : 3);
}

}  // namespace volsten
