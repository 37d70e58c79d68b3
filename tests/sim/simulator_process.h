// Runs a simulator (fx60-sim, idcard-sim) as a separate process for end-to-end
// tests and talks to its control socket. The Windows tests, under Wine, run the
// Linux simulators and reach them on TCP ports of 127.0.0.1.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include "tests/sim/wine_process.h"
#else
#include "tests/sim/process_helpers.h"
#endif
#include "tests/support/test_sockets.h"

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
      : dir_(std::move(dir)), name_(std::move(name)), program_(std::move(program)) {
#ifdef _WIN32
    cable_ = freeLoopbackPort();
    control_ = freeLoopbackPort();
#else
    cable_ = (dir_ / (name_ + ".cable")).string();
    control_ = (dir_ / (name_ + ".control")).string();
#endif
  }
  ~SimulatorProcess() { stop(); }
  SimulatorProcess(const SimulatorProcess&) = delete;
  SimulatorProcess& operator=(const SimulatorProcess&) = delete;

  // The addresses of the cable and the control socket: socket files, or on
  // Windows TCP ports of 127.0.0.1.
  std::string cablePath() const { return cable_; }
  std::string controlPath() const { return control_; }
  std::filesystem::path logPath() const { return dir_ / (name_ + ".log"); }
  long pid() const { return pid_; }

  bool start(const std::vector<std::string>& options) {
    if (program_.empty()) return false;
#ifdef _WIN32
    std::vector<std::string> args{program_, "--control", controlPath(), "--log=" + linuxPath(logPath())};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(cablePath());
    pid_ = startLinuxProgram(args, dir_, name_);
#else
    std::vector<std::string> args{program_, "--exit-with-parent", "--control", controlPath(), "--log=" + logPath().string()};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(cablePath());
    pid_ = spawnProgram(args);
#endif
    if (pid_ < 0) return false;
    // The cable is bound before the control socket: once the latter answers,
    // both are ready.
    return waitUntil([&] {
      const auto connection = connectControl();
      fx60::testing::test_sockets::closeSocket(connection);
      return connection != fx60::testing::test_sockets::kNone;
    }, 5000);
  }

  void stop() {
    if (pid_ <= 0) return;
#ifdef _WIN32
    stopLinuxProgram(pid_, dir_);
    waitUntil([&] {
      const auto connection = connectControl();
      fx60::testing::test_sockets::closeSocket(connection);
      return connection == fx60::testing::test_sockets::kNone;
    }, 3000);
#else
    ::kill(pid_, SIGTERM);
    if (waitForExit(pid_, 3000) < 0) ::kill(pid_, SIGKILL);
#endif
    pid_ = -1;
  }

  // A file path as the simulator names it.
  static std::string simulatorPath(const std::filesystem::path& file) {
#ifdef _WIN32
    return linuxArgument(file.string());
#else
    return file.string();
#endif
  }

  // Sends one control line; the answer line.
  std::string control(const std::string& line) const {
    namespace ts = fx60::testing::test_sockets;
    const ts::Socket connection = connectControl();
    if (connection == ts::kNone) return "error no control socket";
    const std::string request = line + "\n";
    ts::sendAll(connection, reinterpret_cast<const uint8_t*>(request.data()), request.size());
    std::string answer;
    char c;
    while (::recv(connection, &c, 1, 0) == 1 && c != '\n') answer += c;
    ts::closeSocket(connection);
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
  fx60::testing::test_sockets::Socket connectControl() const {
#ifdef _WIN32
    return connectLoopback(control_);
#else
    return connectUnix(control_);
#endif
  }

  std::filesystem::path dir_;
  std::string name_;
  std::string program_;
  std::string cable_;
  std::string control_;
  long pid_ = -1;
};

}  // namespace fx60::sim::testing
