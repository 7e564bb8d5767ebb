#include "sys/locale.h"

#include <windows.h>

namespace volsten {

int sysCompareLocale(const char* a, int32_t aLength, const char* b, int32_t bLength) {
  return CompareStringA(LOCALE_USER_DEFAULT, SORT_STRINGSORT, a, aLength, b, bLength);
}

}  // namespace volsten
