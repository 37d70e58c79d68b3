// A minimal server end of the virtual cable for tests: answers each request with
// what a handler returns, so that a test can play a module at the wire level. It
// listens on a TCP port of 127.0.0.1, the address form every build of the cable
// understands, so that the same tests run on Linux and on Windows.
#pragma once

#include <gtest/gtest.h>

#include "tests/support/test_sockets.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace fx60::testing {

// head followed by tail, built in one allocation.
inline std::vector<uint8_t> joined(const std::vector<uint8_t>& head, const std::vector<uint8_t>& tail) {
  std::vector<uint8_t> out(head.size() + tail.size());
  std::copy(head.begin(), head.end(), out.begin());
  std::copy(tail.begin(), tail.end(), out.begin() + static_cast<std::ptrdiff_t>(head.size()));
  return out;
}

class FakeCableServer {
 public:
  // Returns the response, or nothing to close the connection without answering.
  using Handler = std::function<std::optional<std::vector<uint8_t>>(std::span<const uint8_t>)>;

  // With announceOnly, only the length header of each response goes out: a peer
  // that announces more than it sends. (A server blocked sending a body nobody
  // reads is not always woken by the socket's shutdown under Wine.)
  explicit FakeCableServer(Handler handler, bool announceOnly = false)
      : handler_(std::move(handler)), announceOnly_(announceOnly) {
    uint16_t port = 0;
    listener_ = test_sockets::listenOnLoopback(&port);
    if (listener_ == test_sockets::kNone) return;
    path_ = std::to_string(port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }

  ~FakeCableServer() {
    stopping_ = true;
    test_sockets::wakeAccept(listener_);
    if (acceptor_.joinable()) acceptor_.join();
    test_sockets::closeSocket(listener_);
    {
      std::lock_guard lock(mutex_);
      for (auto socket : open_) test_sockets::shutdownBoth(socket);
    }
    for (auto& worker : workers_) worker.join();
  }

  const std::string& path() const { return path_; }
  int connections() const { return connections_; }

  // The requests received so far, over all connections.
  std::vector<std::vector<uint8_t>> requests() {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void acceptLoop() {
    for (;;) {
      const auto socket = test_sockets::acceptOne(listener_);
      if (socket == test_sockets::kNone || stopping_) {
        test_sockets::closeSocket(socket);
        return;
      }
      ++connections_;
      std::lock_guard lock(mutex_);
      open_.push_back(socket);
      workers_.emplace_back([this, socket] { serve(socket); });
    }
  }

  void serve(test_sockets::Socket socket) {
    for (;;) {
      uint8_t header[4];
      if (!test_sockets::receiveAll(socket, header, 4)) break;
      const uint32_t size = header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
      std::vector<uint8_t> request(size);
      if (!test_sockets::receiveAll(socket, request.data(), size)) break;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      const auto response = handler_(request);
      if (!response) break;
      const uint32_t out = static_cast<uint32_t>(response->size());
      const uint8_t outHeader[4] = {static_cast<uint8_t>(out), static_cast<uint8_t>(out >> 8),
                                    static_cast<uint8_t>(out >> 16), static_cast<uint8_t>(out >> 24)};
      if (!test_sockets::sendAll(socket, outHeader, 4)) break;
      if (announceOnly_) continue;
      if (!response->empty() && !test_sockets::sendAll(socket, response->data(), response->size())) break;
    }
    test_sockets::shutdownBoth(socket);
    std::lock_guard lock(mutex_);
    std::erase(open_, socket);
    test_sockets::closeSocket(socket);
  }

  Handler handler_;
  bool announceOnly_ = false;
  std::string path_;
  test_sockets::Socket listener_ = test_sockets::kNone;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<test_sockets::Socket> open_;
  std::vector<std::thread> workers_;
  std::vector<std::vector<uint8_t>> requests_;
};

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    test_sockets::setEnvironment(name, value.c_str());
  }
  ~ScopedEnvironment() { test_sockets::setEnvironment(name_, previous_ ? previous_->c_str() : nullptr); }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// Points the library's shared busy and cancel bytes at a block of this test
// program's own, removed at the end.
class PrivateCaptureFlags : public ::testing::Environment {
 public:
  explicit PrivateCaptureFlags(const std::string& tag)
      : name_("/fx60-test-" + tag + "-" + std::to_string(test_sockets::processId())) {
    test_sockets::setEnvironment("FX60_SHARED_FLAGS_NAME", name_.c_str());
  }
  void TearDown() override { test_sockets::removeSharedBlock(name_.c_str()); }

 private:
  std::string name_;
};

}  // namespace fx60::testing
