// Runs a simulator (fx60-sim, idcard-sim) as a separate process for end-to-end
// tests and talks to its control socket.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sim/process_helpers.h"

namespace fx60::sim::testing {

#ifdef FX60_SIM_PROGRAM
inline constexpr const char* kFx60SimProgram = FX60_SIM_PROGRAM;
#else
inline constexpr const char* kFx60SimProgram = "";
#endif

// A simulator program (fx60-sim by default, or another that takes the same
// --exit-with-parent, --control, --log options and the socket path last).
class SimulatorProcess {
 public:
  SimulatorProcess(std::filesystem::path dir, std::string name, std::string program = kFx60SimProgram)
      : dir_(std::move(dir)), name_(std::move(name)), program_(std::move(program)) {}
  ~SimulatorProcess() { stop(); }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  std::string cablePath() const { return (dir_ / (name_ + ".cable")).string(); }
  std::string controlPath() const { return (dir_ / (name_ + ".control")).string(); }
  std::filesystem::path logPath() const { return dir_ / (name_ + ".log"); }
  pid_t pid() const { return pid_; }

  bool start(const std::vector<std::string>& options) {
    if (program_.empty()) return false;
    std::vector<std::string> args{program_, "--exit-with-parent", "--control", controlPath(), "--log=" + logPath().string()};
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
  std::string program_;
  pid_t pid_ = -1;
};

}  // namespace fx60::sim::testing
