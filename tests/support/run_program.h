// Runs a command-line program for tests and collects what it prints.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace fx60::testing {

struct ProgramRun {
  int exitCode = -1;
  std::string output;  // standard output and standard error together
};

// `arguments` is shell text: quote paths that may hold spaces.
inline ProgramRun runProgram(const std::string& program, const std::string& arguments) {
  ProgramRun run;
  FILE* pipe = popen(("'" + program + "' " + arguments + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buffer;
  size_t n;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace fx60::testing
