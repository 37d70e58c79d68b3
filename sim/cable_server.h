// Serves a simulated device on a Unix stream socket (the virtual cable), and
// takes live commands on an optional control socket. Every message, both ways, is
// a 32-bit little-endian byte count followed by that many bytes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/served_device.h"

namespace fx60::sim {

class CableServer {
 public:
  CableServer(ServedDevice& device, std::string cablePath, std::string controlPath);
  ~CableServer();

  // Binds the sockets; false with a message on failure. A file that is not a
  // socket, or a socket another server listens on, is refused and left alone;
  // only a socket nobody listens on any more is replaced.
  bool start(std::string* error);

  // Serves until a byte arrives on stopFd() (from a signal handler), or until
  // keepRunning, asked twice a second, says no.
  void run(const std::function<bool()>& keepRunning = {});

  // Write one byte here to stop run(); safe from a signal handler.
  int stopFd() const { return stopPipe_[1]; }

  // One control command line, answered with one line (without the new line).
  std::string control(const std::string& line);

 private:
  struct Connection {
    int fd;
    std::thread thread;
    bool finished = false;
    bool cable = true;  // a cable connection, not a control one
  };

  void serveCable(int fd);
  void serveControl(int fd);
  // Closes every open cable connection, as pulling the plug does.
  void dropAllCables();
  void reapFinished();
  int64_t nowMs() const;

  ServedDevice& device_;
  std::string cablePath_, controlPath_;
  int cableListener_ = -1, controlListener_ = -1;
  int stopPipe_[2] = {-1, -1};

  std::mutex mutex_;
  std::condition_variable wake_;
  long dropGeneration_ = 0;
  bool stopping_ = false;
  std::vector<Connection*> connections_;
};

// Runs the server until SIGINT or SIGTERM arrives or, with exitWithParent, until
// the process that started this one has gone (so that a test that dies leaves
// no simulator behind).
void serveUntilStopped(CableServer& server, bool exitWithParent);

// A logger that writes each line to `file` after the milliseconds since its making.
std::function<void(const std::string&)> timedLogger(std::FILE* file);

}  // namespace fx60::sim
