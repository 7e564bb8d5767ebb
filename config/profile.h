// The profile reader: values, key lists and section lists of an
// initialisation file of [sections] and key = value lines, read afresh on
// every call. The library's own profile is "volsten.ini" in the Windows
// directory, with one section per server.
#pragma once

#include <cstdint>

namespace volsten {

constexpr const char* kProfileName = "volsten.ini";

// With a section and a key: the key's value (its length is returned,
// trailing blanks not counted), or defaultValue when the file, the section
// or the key is missing. With a section and no key: the section's key
// names; with no section: the section names. A list is NUL-terminated
// names in file order and one more NUL; its length is returned without
// the last two NULs. Nothing happens for a null buffer or a size below 1.
//
// fileName without a path separator is looked for in the Windows
// directory. The file is always opened as a local file.
int32_t getProfileString(const char* section, const char* key, const char* defaultValue,
                         char* buffer, int32_t size, const char* fileName);

}  // namespace volsten
