// Linux programs started from a Windows test program running under Wine: Wine's
// CreateProcess starts a native program, but gives no handle to wait for or end
// it. So each program runs from a small shell script that writes its process id
// or its exit status to a file, and is ended with kill. Paths of the Windows side
// are handed over as the Linux side's own.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "tests/sim/wait_until.h"
#include "tests/support/test_sockets.h"

// windows.h names its MessageBoxA/W functions by a macro; the station's tests
// have a type of that name.
#undef MessageBox

namespace fx60::sim::testing {

// The Linux path of a Windows path; empty when the program does not run under Wine.
inline std::string linuxPath(const std::filesystem::path& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  static const auto convert = reinterpret_cast<Convert>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) return {};
  char* converted = convert(std::filesystem::absolute(path).wstring().c_str());
  if (converted == nullptr) return {};
  std::string result(converted);
  HeapFree(GetProcessHeap(), 0, converted);
  return result;
}

inline bool runsUnderWine() { return !linuxPath(".").empty(); }

// An argument that names a file by an absolute path becomes the Linux path.
inline std::string linuxArgument(const std::string& argument) {
  if (!std::filesystem::path(argument).has_root_directory()) return argument;
  const std::string converted = linuxPath(argument);
  return converted.empty() ? argument : converted;
}

inline std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline std::string shellCommand(const std::vector<std::string>& args) {
  std::string command;
  for (const auto& arg : args) command += (command.empty() ? "" : " ") + shellQuoted(linuxArgument(arg));
  return command;
}

// Runs `script` with /bin/sh on the Linux side, without waiting for it.
inline bool startShellScript(const std::filesystem::path& file, const std::string& script) {
  std::ofstream(file, std::ios::binary) << script;
  std::string command = "/bin/sh \"" + linuxPath(file) + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  return true;
}

// A number that the script writes to `file` once it is there; empty after the time.
inline std::optional<long> awaitNumberFile(const std::filesystem::path& file, int timeoutMs) {
  std::optional<long> number;
  waitUntil([&] {
    long value = 0;
    if (std::ifstream in(file); in >> value) number = value;
    return number.has_value();
  }, timeoutMs);
  return number;
}

// Starts a Linux program in `dir` (its output goes to NAME.out there) and returns
// its process id, or -1. A program left behind by a test that broke off ends
// after ten minutes.
inline long startLinuxProgram(const std::vector<std::string>& args, const std::filesystem::path& dir,
                              const std::string& name) {
  const auto pidFile = dir / (name + ".pid");
  std::error_code ignored;
  std::filesystem::remove(pidFile, ignored);  // an earlier run's
  const std::string script = "echo $$ > " + shellQuoted(linuxPath(pidFile) + ".new") + " && mv " +
                             shellQuoted(linuxPath(pidFile) + ".new") + " " + shellQuoted(linuxPath(pidFile)) +
                             "\nexec timeout 600 " + shellCommand(args) + " >" +
                             shellQuoted(linuxPath(dir / (name + ".out"))) + " 2>&1\n";
  if (!startShellScript(dir / (name + ".start.sh"), script)) return -1;
  return awaitNumberFile(pidFile, 5000).value_or(-1);
}

// Runs a Linux program in `dir` to its end; its exit code, or -1 when it did not
// end in time. Its output goes to NAME.out.
inline int runLinuxProgram(const std::vector<std::string>& args, const std::filesystem::path& dir,
                           const std::string& name, int timeoutMs = 30000) {
  const auto statusFile = dir / (name + ".status");
  std::error_code ignored;
  std::filesystem::remove(statusFile, ignored);
  const std::string script = shellCommand(args) + " >" + shellQuoted(linuxPath(dir / (name + ".out"))) +
                             " 2>&1\necho $? > " + shellQuoted(linuxPath(statusFile) + ".new") + " && mv " +
                             shellQuoted(linuxPath(statusFile) + ".new") + " " + shellQuoted(linuxPath(statusFile)) +
                             "\n";
  if (!startShellScript(dir / (name + ".run.sh"), script)) return -1;
  return static_cast<int>(awaitNumberFile(statusFile, timeoutMs).value_or(-1));
}

// Asks a program started by startLinuxProgram to end.
inline void stopLinuxProgram(long pid, const std::filesystem::path& dir) {
  if (pid > 0) runLinuxProgram({"/bin/kill", "-TERM", std::to_string(pid)}, dir, "kill-" + std::to_string(pid), 5000);
}

// A TCP port of 127.0.0.1 that is free now.
inline std::string freeLoopbackPort() {
  uint16_t port = 0;
  const auto listener = fx60::testing::test_sockets::listenOnLoopback(&port);
  fx60::testing::test_sockets::closeSocket(listener);
  return std::to_string(port);
}

// A connection to a TCP port of 127.0.0.1, or kNone.
inline fx60::testing::test_sockets::Socket connectLoopback(const std::string& port) {
  namespace ts = fx60::testing::test_sockets;
  if (!ts::socketsReady()) return ts::kNone;
  const ts::Socket socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == ts::kNone) return ts::kNone;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(std::stoi(port)));
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return socket;
  ts::closeSocket(socket);
  return ts::kNone;
}

}  // namespace fx60::sim::testing
