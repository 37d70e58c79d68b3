// idcard-sim: a virtual identity-card reader on a Unix socket, reached by the
// card-reader library through IDCARD_SIMULATOR.
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/cable_server.h"
#include "sim/idcard/card_reader.h"
#include "sim/idcard/reader_protocol.h"

namespace {

using namespace fx60;

constexpr const char* kUsage =
    "usage: idcard-sim [options] SOCKET\n"
    "Serves a virtual identity-card reader on the Unix stream socket SOCKET.\n"
    "  --card FILE            a card lying on the reader from the start\n"
    "  --port N               a port the reader answers on (repeatable; default 1001)\n"
    "  --serial TEXT          the security module's serial number (at most 59 characters)\n"
    "  --unplugged            start unplugged\n"
    "  --read-delay MS        reading a card takes this long (default 0)\n"
    "  --script STEPS         commands run in turn from the start, separated by ';' or\n"
    "                         new lines: any control command, or 'wait MS'\n"
    "  --script-file FILE     the script from a file\n"
    "  --control PATH         accept live commands on this socket, one per line:\n"
    "                         place CARD, remove, unplug, plug, fail-next N,\n"
    "                         read-delay MS, status\n"
    "  --log[=FILE]           log every request (to stderr, or to FILE)\n"
    "  --exit-with-parent     stop when the starting process has gone (for tests)\n";

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "idcard-sim: " << message << "\n";
  std::exit(2);
}

int parseNumber(const std::string& text, int low, int high, const std::string& what) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    usageError("bad " + what + " '" + text + "'");
  return value;
}

std::vector<std::string> scriptSteps(const std::string& script) {
  std::vector<std::string> steps;
  std::string step;
  std::istringstream in(script);
  while (std::getline(in, step, '\n')) {
    std::istringstream parts(step);
    std::string part;
    while (std::getline(parts, part, ';')) {
      const size_t first = part.find_first_not_of(" \t\r");
      if (first == std::string::npos) continue;
      const size_t last = part.find_last_not_of(" \t\r");
      steps.push_back(part.substr(first, last - first + 1));
    }
  }
  return steps;
}

}  // namespace

int main(int argc, char** argv) {
  idcard::ReaderConfig config;
  config.ports.clear();
  std::string socketPath, controlPath, logPath, script, initialCard;
  bool logging = false, exitWithParent = false;

  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= args.size()) usageError(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--card") {
      initialCard = value();
    } else if (arg == "--port") {
      config.ports.insert(parseNumber(value(), 0, 1 << 30, "port"));
    } else if (arg == "--serial") {
      config.serial = value();
      if (config.serial.size() > idcard::kMaxSerialLength) usageError("the serial number has more than 59 characters");
    } else if (arg == "--unplugged") {
      config.plugged = false;
    } else if (arg == "--read-delay") {
      config.readDelayMs = parseNumber(value(), 0, 60000, "read delay");
    } else if (arg == "--script") {
      script += value() + "\n";
    } else if (arg == "--script-file") {
      const std::string file = value();
      std::ifstream in(file);
      if (!in) usageError("cannot read " + file);
      std::ostringstream text;
      text << in.rdbuf();
      script += text.str() + "\n";
    } else if (arg == "--control") {
      controlPath = value();
    } else if (arg == "--log") {
      logging = true;
    } else if (arg.starts_with("--log=")) {
      logging = true;
      logPath = arg.substr(6);
    } else if (arg == "--exit-with-parent") {
      exitWithParent = true;
    } else if (arg.starts_with("--")) {
      std::cerr << "idcard-sim: unknown option " << arg << "\n" << kUsage;
      return 2;
    } else if (socketPath.empty()) {
      socketPath = arg;
    } else {
      usageError("more than one socket path");
    }
  }
  if (socketPath.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  if (config.ports.empty()) config.ports.insert(1001);

  idcard::CardReader reader(config);
  std::FILE* logFile = nullptr;
  if (logging) {
    logFile = logPath.empty() ? stderr : std::fopen(logPath.c_str(), "w");
    if (logFile == nullptr) {
      std::cerr << "idcard-sim: cannot write " << logPath << "\n";
      return 1;
    }
    reader.setLogger(sim::timedLogger(logFile));
  }
  if (!initialCard.empty()) {
    const std::string answer = reader.placeCard(initialCard);
    if (answer.starts_with("error")) {
      std::cerr << "idcard-sim: " << answer.substr(6) << "\n";
      return 1;
    }
  }

  sim::CableServer server(reader, socketPath, controlPath);
  std::string error;
  if (!server.start(&error)) {
    std::cerr << "idcard-sim: " << error << "\n";
    return 1;
  }
  // The script runs beside the server and is stopped before the server goes.
  std::jthread scriptRunner;
  if (!script.empty()) {
    scriptRunner = std::jthread([&server, steps = scriptSteps(script)](std::stop_token stop) {
      std::mutex mutex;
      std::condition_variable_any wake;
      for (const std::string& step : steps) {
        if (stop.stop_requested()) return;
        if (step.starts_with("wait ")) {
          int ms = 0;
          std::from_chars(step.data() + 5, step.data() + step.size(), ms);
          std::unique_lock lock(mutex);
          wake.wait_for(lock, stop, std::chrono::milliseconds(ms), [] { return false; });
          continue;
        }
        const std::string answer = server.control(step);
        if (answer.starts_with("error")) std::cerr << "idcard-sim: script: " << step << ": " << answer << "\n";
      }
    });
  }
  sim::serveUntilStopped(server, exitWithParent);
  if (scriptRunner.joinable()) {
    scriptRunner.request_stop();
    scriptRunner.join();
  }
  if (logFile != nullptr && logFile != stderr) std::fclose(logFile);
  return 0;
}
