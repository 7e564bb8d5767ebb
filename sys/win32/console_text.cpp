#include "sys/console_text.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace volsten {

void sysWriteText(std::FILE* stream, const char* text) {
  int length = static_cast<int>(std::strlen(text));
  if (length == 0) return;
  int wide = MultiByteToWideChar(1252, 0, text, length, nullptr, 0);
  std::vector<wchar_t> characters(static_cast<size_t>(wide > 0 ? wide : 0));
  UINT page = GetConsoleOutputCP();
  if (page == 0) page = GetACP();
  if (wide <= 0 || page == 1252) {
    std::fputs(text, stream);
    return;
  }
  MultiByteToWideChar(1252, 0, text, length, characters.data(), wide);
  int bytes = WideCharToMultiByte(page, 0, characters.data(), wide, nullptr, 0, nullptr, nullptr);
  std::vector<char> converted(static_cast<size_t>(bytes > 0 ? bytes : 0));
  if (bytes <= 0) {
    std::fputs(text, stream);
    return;
  }
  WideCharToMultiByte(page, 0, characters.data(), wide, converted.data(), bytes, nullptr, nullptr);
  std::fwrite(converted.data(), 1, converted.size(), stream);
}

}  // namespace volsten
