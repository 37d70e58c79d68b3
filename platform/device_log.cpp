#include "platform/device_log.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace fx60::platform {
namespace {

struct LogState {
  std::mutex mutex;
  std::FILE* file = nullptr;  // null: no log
  bool ownsFile = false;
  std::function<void(const DeviceEvent&)> watcher;
  // Discovery runs before every capture attempt: what it finds is logged once.
  std::set<std::string> discoveryLines;

  LogState() {
    const char* target = std::getenv("FX60_LOG");
    if (target == nullptr || *target == '\0') return;
    if (std::strcmp(target, "stderr") == 0) {
      file = stderr;
      return;
    }
    file = std::fopen(target, "a");
    ownsFile = file != nullptr;
  }
  ~LogState() {
    if (ownsFile) std::fclose(file);
  }
};

LogState& state() {
  static LogState log;
  return log;
}

const char* kindWords(DeviceEvent::Kind kind) {
  switch (kind) {
    case DeviceEvent::Kind::Listed: return "found";
    case DeviceEvent::Kind::Opened: return "opened";
    case DeviceEvent::Kind::OpenFailed: return "cannot open";
    case DeviceEvent::Kind::Ignored: return "not a module:";
    case DeviceEvent::Kind::Retry: return "retry";
    case DeviceEvent::Kind::TimedOut: return "time-out";
    case DeviceEvent::Kind::Failed: return "failed";
  }
  return "event";
}

}  // namespace

std::string describeDeviceEvent(const DeviceEvent& event) {
  std::string line = kindWords(event.kind);
  line += ' ';
  line += event.where;
  if (!event.detail.empty()) line += ": " + event.detail;
  if (event.error != 0) line += std::string(event.detail.empty() ? ": " : ", ") + std::strerror(event.error);
  return line;
}

bool deviceLogActive() {
  LogState& log = state();
  std::lock_guard lock(log.mutex);
  return log.file != nullptr || static_cast<bool>(log.watcher);
}

void logDeviceEvent(const DeviceEvent& event) {
  LogState& log = state();
  std::lock_guard lock(log.mutex);
  if (log.file != nullptr) {
    const std::string line = describeDeviceEvent(event);
    constexpr size_t kRememberedLines = 256;
    const bool discovery = event.kind == DeviceEvent::Kind::Listed || event.kind == DeviceEvent::Kind::Opened ||
                           event.kind == DeviceEvent::Kind::OpenFailed || event.kind == DeviceEvent::Kind::Ignored;
    if (!discovery || (log.discoveryLines.size() < kRememberedLines && log.discoveryLines.insert(line).second)) {
      std::fprintf(log.file, "fx60: %s\n", line.c_str());
      std::fflush(log.file);
    }
  }
  if (log.watcher) log.watcher(event);
}

void watchDeviceEvents(std::function<void(const DeviceEvent&)> watcher) {
  LogState& log = state();
  std::lock_guard lock(log.mutex);
  log.watcher = std::move(watcher);
}

}  // namespace fx60::platform
