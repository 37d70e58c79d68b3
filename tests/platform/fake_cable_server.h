// A minimal server end of the virtual cable for tests: answers each request with
// what a handler returns, so that a test can play a module at the wire level.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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

  explicit FakeCableServer(Handler handler) : handler_(std::move(handler)) {
    static std::atomic<int> serial{0};
    path_ = "/tmp/fx60-test-cable-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    ::unlink(path_.c_str());
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path_.data(), path_.size());
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
      ::close(listener_);
      listener_ = -1;
      return;
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
  }

  ~FakeCableServer() {
    stopping_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    ::close(listener_);
    {
      std::lock_guard lock(mutex_);
      for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    for (auto& worker : workers_) worker.join();
    ::unlink(path_.c_str());
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
      const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0 || stopping_) {
        if (fd >= 0) ::close(fd);
        return;
      }
      ++connections_;
      std::lock_guard lock(mutex_);
      open_.push_back(fd);
      workers_.emplace_back([this, fd] { serve(fd); });
    }
  }

  static bool readAll(int fd, uint8_t* bytes, size_t count) {
    while (count > 0) {
      const ssize_t got = ::recv(fd, bytes, count, 0);
      if (got <= 0) return false;
      bytes += got;
      count -= static_cast<size_t>(got);
    }
    return true;
  }

  void serve(int fd) {
    for (;;) {
      uint8_t header[4];
      if (!readAll(fd, header, 4)) break;
      const uint32_t size = header[0] | header[1] << 8 | header[2] << 16 | uint32_t{header[3]} << 24;
      std::vector<uint8_t> request(size);
      if (!readAll(fd, request.data(), size)) break;
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      const auto response = handler_(request);
      if (!response) break;
      const uint32_t out = static_cast<uint32_t>(response->size());
      const uint8_t outHeader[4] = {static_cast<uint8_t>(out), static_cast<uint8_t>(out >> 8),
                                    static_cast<uint8_t>(out >> 16), static_cast<uint8_t>(out >> 24)};
      if (::send(fd, outHeader, 4, MSG_NOSIGNAL) != 4) break;
      if (!response->empty() &&
          ::send(fd, response->data(), response->size(), MSG_NOSIGNAL) != static_cast<ssize_t>(response->size()))
        break;
    }
    ::shutdown(fd, SHUT_RDWR);
    std::lock_guard lock(mutex_);
    std::erase(open_, fd);
    ::close(fd);
  }

  Handler handler_;
  std::string path_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<int> open_;
  std::vector<std::thread> workers_;
  std::vector<std::vector<uint8_t>> requests_;
};

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (previous_) ::setenv(name_, previous_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// Points the library's shared busy and cancel bytes at a block of this test
// program's own, removed at the end.
class PrivateCaptureFlags : public ::testing::Environment {
 public:
  explicit PrivateCaptureFlags(const std::string& tag)
      : name_("/fx60-test-" + tag + "-" + std::to_string(::getpid())) {
    ::setenv("FX60_SHARED_FLAGS_NAME", name_.c_str(), 1);
  }
  void TearDown() override { ::shm_unlink(name_.c_str()); }

 private:
  std::string name_;
};

}  // namespace fx60::testing
