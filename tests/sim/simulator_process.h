// Runs fx60-sim as a separate process for end-to-end tests and talks to its
// control socket.
#pragma once

#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fx60::sim::testing {

inline int connectUnix(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// Polls until the condition holds or the time is up.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

inline pid_t spawnProgram(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

// Waits for a child; its exit code, or -1 when it did not end in time (it is
// then killed) or did not exit normally.
inline int waitForExit(pid_t pid, int timeoutMs) {
  int status = 0;
  const bool ended = waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, timeoutMs);
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SimulatorProcess {
 public:
  SimulatorProcess(std::filesystem::path dir, std::string name) : dir_(std::move(dir)), name_(std::move(name)) {}
  ~SimulatorProcess() { stop(); }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  std::string cablePath() const { return (dir_ / (name_ + ".cable")).string(); }
  std::string controlPath() const { return (dir_ / (name_ + ".control")).string(); }
  std::filesystem::path logPath() const { return dir_ / (name_ + ".log"); }

  bool start(const std::vector<std::string>& options) {
    std::vector<std::string> args{FX60_SIM_PROGRAM, "--exit-with-parent", "--control", controlPath(), "--log=" + logPath().string()};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(cablePath());
    pid_ = spawnProgram(args);
    if (pid_ < 0) return false;
    // The cable is bound before the control socket: once the latter answers,
    // both are ready.
    return waitUntil([&] {
      const int fd = connectUnix(controlPath());
      if (fd < 0) return false;
      ::close(fd);
      return true;
    }, 5000);
  }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (waitForExit(pid_, 3000) < 0) ::kill(pid_, SIGKILL);
    pid_ = -1;
  }

  // Sends one control line; the answer line.
  std::string control(const std::string& line) const {
    const int fd = connectUnix(controlPath());
    if (fd < 0) return "error no control socket";
    const std::string request = line + "\n";
    (void)!::write(fd, request.data(), request.size());
    std::string answer;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') answer += c;
    ::close(fd);
    return answer;
  }

  // The status line as key/value pairs.
  std::map<std::string, std::string> status() const {
    std::map<std::string, std::string> fields;
    std::istringstream in(control("status"));
    std::string word;
    while (in >> word) {
      const size_t equals = word.find('=');
      if (equals != std::string::npos) fields[word.substr(0, equals)] = word.substr(equals + 1);
    }
    return fields;
  }

  long counter(const std::string& key) const {
    const auto fields = status();
    const auto found = fields.find(key);
    return found == fields.end() ? -1 : std::stol(found->second);
  }

  std::string log() const {
    std::ifstream in(logPath());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  std::filesystem::path dir_;
  std::string name_;
  pid_t pid_ = -1;
};

}  // namespace fx60::sim::testing
