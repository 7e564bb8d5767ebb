#include "sys/run_program.h"

#include <windows.h>

#include <string>

namespace volsten {
namespace {

// Quotes one argument so that the C runtime's command-line parser gives it
// back unchanged: backslashes count only before a quote, where they are
// doubled, and a quote is escaped with a backslash.
void appendQuoted(std::string& line, const char* arg) {
  line += '"';
  size_t backslashes = 0;
  for (const char* p = arg; *p != '\0'; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    line.append(*p == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    line += *p;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE h) : h_(h) {}
  ~OwnedHandle() {
    if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) CloseHandle(h_);
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

 private:
  HANDLE h_;
};

HANDLE openInheritable(const char* path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, creation,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

SysProgram sysProgramStart(const char* const* argv, const char* outputPath) {
  if (argv == nullptr || argv[0] == nullptr || outputPath == nullptr) return 0;
  std::string line;
  for (const char* const* a = argv; *a != nullptr; ++a) {
    if (a != argv) line += ' ';
    appendQuoted(line, *a);
  }
  OwnedHandle input(openInheritable("NUL", GENERIC_READ, OPEN_EXISTING));
  OwnedHandle output(openInheritable(outputPath, GENERIC_WRITE, CREATE_ALWAYS));
  if (!input.valid() || !output.valid()) return 0;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = output.get();
  startup.hStdError = output.get();
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(argv[0], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 0;
  }
  CloseHandle(process.hThread);
  return reinterpret_cast<SysProgram>(process.hProcess);
}

void sysProgramStop(SysProgram program) {
  if (program != 0) TerminateProcess(reinterpret_cast<HANDLE>(program), 1);
}

int32_t sysProgramWait(SysProgram program) {
  if (program == 0) return -1;
  OwnedHandle process(reinterpret_cast<HANDLE>(program));
  DWORD code = 0;
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.get(), &code)) {
    return -1;
  }
  return static_cast<int32_t>(code);
}

}  // namespace volsten
