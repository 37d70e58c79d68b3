// What the socket server of a simulator serves: one simulated device that answers
// framed requests, one connection at a time or several, and takes live control
// commands as text lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fx60::sim {

// What to send back for one request.
struct Reply {
  std::vector<uint8_t> message;  // the response body, without its length prefix
  int64_t delayMs = 0;           // hold the response this long first
  bool hangUp = false;           // drop the connection instead: the device is gone
};

class ServedDevice {
 public:
  virtual ~ServedDevice() = default;

  // False while unplugged: new connections are refused.
  virtual bool plugged() const = 0;

  // A new connection (an opened device); closes with closeLink.
  virtual int openLink() = 0;
  virtual void closeLink(int link) = 0;

  // Answers one request of a connection.
  virtual Reply handle(int link, std::span<const uint8_t> request, int64_t nowMs) = 0;

  // One control command line, answered with one line (without the new line).
  // Sets dropLinks when every open connection must be closed, as pulling the
  // plug does.
  virtual std::string control(const std::string& line, int64_t nowMs, bool& dropLinks) = 0;
};

}  // namespace fx60::sim
