// Runs a command-line program for tests and collects what it prints.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

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

// Runs `arguments` (the program first) with the environment changed as
// `environment` says ("NAME=value" sets, "-NAME" removes), standard input empty;
// a run that lasts longer than `timeoutMs` is killed and reports exit code -1.
inline ProgramRun runProgramWithin(const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& environment, int timeoutMs) {
  ProgramRun run;
  std::vector<std::string> variables;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string entry = *variable;
    const std::string name = entry.substr(0, entry.find('='));
    bool changed = false;
    for (const auto& change : environment)
      changed |= change == "-" + name || change.rfind(name + "=", 0) == 0;
    if (!changed) variables.push_back(entry);
  }
  for (const auto& change : environment)
    if (change.empty() || change[0] != '-') variables.push_back(change);

  char outputName[] = "/tmp/fx60-test-run-XXXXXX";
  const int output = ::mkstemp(outputName);
  if (output < 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output, 1);
  posix_spawn_file_actions_adddup2(&actions, output, 2);
  std::vector<char*> argv, envp;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  for (const auto& variable : variables) envp.push_back(const_cast<char*>(variable.c_str()));
  envp.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(output);
  if (spawned == 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) != pid) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::ifstream text(outputName);
  std::stringstream all;
  all << text.rdbuf();
  run.output = all.str();
  ::unlink(outputName);
  return run;
}

}  // namespace fx60::testing
