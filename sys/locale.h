// String comparison by the user's collation.
#pragma once

#include <cstdint>

namespace volsten {

// Compares a[0..aLength) with b[0..bLength) case-sensitively by the user's
// default locale. Returns the Win32 codes: 1 less, 2 equal, 3 greater, 0 when
// the comparison failed. The texts must not contain NUL bytes.
int sysCompareLocale(const char* a, int32_t aLength, const char* b, int32_t bLength);

}  // namespace volsten
