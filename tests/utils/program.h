// Runs a built program the way a user would, through the preset's emulator
// where one is needed to start it (qemu-i386 for the 32-bit Linux build).
#pragma once

#include <string>
#include <vector>

#include "sys/run_program.h"
#include "tests/utils/files.h"

namespace volsten::testing {

struct ProgramRun {
  int32_t exitCode;
  std::string output;  // standard output and standard error
};

class ProgramStarter {
 public:
  // outputPath receives the program's output.
  ProgramStarter(const std::string& program, const std::vector<std::string>& args,
                 std::string outputPath)
      : output_(std::move(outputPath)) {
    std::string emulator = VOLSTEN_TEST_EMULATOR;
    if (!emulator.empty()) words_.push_back(emulator);
    words_.push_back(program);
    words_.insert(words_.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (const std::string& w : words_) argv.push_back(w.c_str());
    argv.push_back(nullptr);
    program_ = sysProgramStart(argv.data(), output_.c_str());
  }
  ~ProgramStarter() {
    if (program_ != 0) sysProgramWait(program_);
  }
  ProgramStarter(const ProgramStarter&) = delete;
  ProgramStarter& operator=(const ProgramStarter&) = delete;

  bool started() const { return program_ != 0; }
  SysProgram program() const { return program_; }
  ProgramRun wait() {
    ProgramRun run{sysProgramWait(program_), ""};
    program_ = 0;
    run.output = readFile(output_);
    return run;
  }

 private:
  std::vector<std::string> words_;
  std::string output_;
  SysProgram program_ = 0;
};

inline ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::string& outputPath) {
  ProgramStarter starter(program, args, outputPath);
  if (!starter.started()) return {-1, "<not started>"};
  return starter.wait();
}

// Entry lines (after leading blanks) whose first token is name.
inline int countEntries(const std::string& text, const std::string& name) {
  int count = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line.compare(first, name.size(), name) == 0 &&
        first + name.size() < line.size() &&
        (line[first + name.size()] == ' ' || line[first + name.size()] == '\t')) {
      ++count;
    }
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return count;
}

}  // namespace volsten::testing
