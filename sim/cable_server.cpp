#include "sim/cable_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <span>

#include "platform/cable/stream_socket.h"
#include "sim/byte_order.h"

namespace fx60::sim {

namespace {

// Larger requests are not part of the protocol; a peer sending one is dropped.
constexpr uint32_t kMaxMessageBytes = 1u << 20;

bool writeExactly(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

// Whether a server accepts connections on the socket at `address`: false for a
// socket file left behind by a server that has gone.
bool socketAnswers(const sockaddr_un& address, std::string* error) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return true;
  }
  const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  const int connectError = errno;
  ::close(fd);
  if (answers) {
    *error = std::string(address.sun_path) + ": another server is listening on this socket";
  } else if (connectError != ECONNREFUSED) {
    *error = std::string(address.sun_path) + ": cannot tell whether a server listens here: " + std::strerror(connectError);
    return true;
  }
  return answers;
}

// Listens on a TCP port of 127.0.0.1, for programs that have no Unix sockets
// (Windows programs under Wine).
int listenOnLoopback(uint16_t port, std::string* error) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);  // inherited by accepted sockets
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    *error = "127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// Binds and listens on `path`: a TCP port on 127.0.0.1 when it is a port number,
// else a Unix socket. Whatever is there already is left alone unless it
// is a socket nobody listens on any more: a regular file, a folder or a live
// server's socket is refused.
int listenOn(const std::string& path, std::string* error) {
  if (const auto port = platform::cable::loopbackPort(path)) return listenOnLoopback(*port, error);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    *error = "socket path '" + path + "' is empty or too long";
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      *error = path + ": exists and is not a socket; not replacing it";
      return -1;
    }
    if (socketAnswers(address, error)) return -1;
    ::unlink(path.c_str());  // left by a server that has gone
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    *error = path + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

CableServer::CableServer(ServedDevice& device, std::string cablePath, std::string controlPath)
    : device_(device), cablePath_(std::move(cablePath)), controlPath_(std::move(controlPath)) {}

CableServer::~CableServer() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  dropAllCables();
  for (Connection* connection : connections_) {
    ::shutdown(connection->fd, SHUT_RDWR);
    if (connection->thread.joinable()) connection->thread.join();
    delete connection;
  }
  for (int fd : {cableListener_, controlListener_, stopPipe_[0], stopPipe_[1]})
    if (fd >= 0) ::close(fd);
  if (cableListener_ >= 0 && !platform::cable::loopbackPort(cablePath_)) ::unlink(cablePath_.c_str());
  if (controlListener_ >= 0 && !platform::cable::loopbackPort(controlPath_)) ::unlink(controlPath_.c_str());
}

int64_t CableServer::nowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool CableServer::start(std::string* error) {
  if (!controlPath_.empty() && controlPath_ == cablePath_) {
    *error = cablePath_ + ": the control socket needs a path of its own";
    return false;
  }
  if (::pipe2(stopPipe_, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  cableListener_ = listenOn(cablePath_, error);
  if (cableListener_ < 0) return false;
  if (!controlPath_.empty()) {
    controlListener_ = listenOn(controlPath_, error);
    if (controlListener_ < 0) return false;
  }
  return true;
}

void CableServer::run(const std::function<bool()>& keepRunning) {
  for (;;) {
    if (keepRunning && !keepRunning()) return;
    pollfd watched[3] = {{stopPipe_[0], POLLIN, 0}, {cableListener_, POLLIN, 0}, {controlListener_, POLLIN, 0}};
    const int count = controlListener_ >= 0 ? 3 : 2;
    if (::poll(watched, count, 500) < 0 && errno != EINTR) return;
    if (watched[0].revents != 0) return;
    reapFinished();
    for (int i = 1; i < count; ++i) {
      if ((watched[i].revents & POLLIN) == 0) continue;
      const int fd = ::accept4(watched[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const bool cable = i == 1;
      if (cable && !device_.plugged()) {  // nothing answers while unplugged
        ::close(fd);
        continue;
      }
      auto* connection = new Connection{fd, {}, false, cable};
      std::lock_guard lock(mutex_);
      connections_.push_back(connection);
      connection->thread = std::thread([this, connection, cable] {
        if (cable)
          serveCable(connection->fd);
        else
          serveControl(connection->fd);
        std::lock_guard done(mutex_);
        connection->finished = true;
      });
    }
  }
}

void CableServer::reapFinished() {
  std::vector<Connection*> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->finished) {
        finished.push_back(*it);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (Connection* connection : finished) {
    connection->thread.join();
    ::close(connection->fd);
    delete connection;
  }
}

namespace {

// Reads whole messages from a stream, taking whatever the socket has at once so
// that a request costs one system call when it arrived in one piece.
class MessageReader {
 public:
  explicit MessageReader(int fd) : fd_(fd) {}

  // The next message body; false when the peer has gone or sent an oversized one.
  bool next(std::vector<uint8_t>& message) {
    if (!fill(4)) return false;
    const uint32_t length = readU32(std::span<const uint8_t>(buffer_).subspan(start_), 0);
    if (length > kMaxMessageBytes || !fill(4 + static_cast<size_t>(length))) return false;
    message.assign(buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + 4),
                   buffer_.begin() + static_cast<std::ptrdiff_t>(start_ + 4 + length));
    start_ += 4 + length;
    return true;
  }

 private:
  bool fill(size_t wanted) {
    if (start_ > 0 && buffer_.size() - start_ < wanted) {  // keep the unread bytes at the front
      buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
      start_ = 0;
    }
    while (buffer_.size() - start_ < wanted) {
      const size_t have = buffer_.size();
      buffer_.resize(std::max(have + 65536, start_ + wanted));
      const ssize_t got = receive(buffer_.data() + have, buffer_.size() - have);
      buffer_.resize(have + static_cast<size_t>(std::max<ssize_t>(got, 0)));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
    }
    return true;
  }

  // A driver reading an image sends its next request within microseconds of the
  // last answer: look for it for a short while before sleeping in recv, which
  // spares the thread's wake-up on every report.
  ssize_t receive(uint8_t* into, size_t capacity) {
    const auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    do {
      const ssize_t got = ::recv(fd_, into, capacity, MSG_DONTWAIT);
      if (got >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return got;
    } while (std::chrono::steady_clock::now() < spinUntil);
    return ::recv(fd_, into, capacity, 0);
  }

  int fd_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
};

}  // namespace

void CableServer::serveCable(int fd) {
  const int link = device_.openLink();
  MessageReader reader(fd);
  std::vector<uint8_t> request;
  while (reader.next(request)) {
    long generation;
    {
      std::lock_guard lock(mutex_);
      generation = dropGeneration_;
    }
    const Reply reply = device_.handle(link, request, nowMs());
    if (reply.hangUp) {
      dropAllCables();
      break;
    }
    if (reply.delayMs > 0) {
      // Hold the answer, but give up at once when the cable is pulled.
      std::unique_lock lock(mutex_);
      const bool interrupted = wake_.wait_for(lock, std::chrono::milliseconds(reply.delayMs),
                                              [&] { return stopping_ || dropGeneration_ != generation; });
      if (interrupted) break;
    }
    std::vector<uint8_t> framed;
    framed.reserve(reply.message.size() + 4);
    appendU32(framed, static_cast<uint32_t>(reply.message.size()));
    framed.insert(framed.end(), reply.message.begin(), reply.message.end());
    if (!writeExactly(fd, framed.data(), framed.size())) break;
  }
  device_.closeLink(link);
  ::shutdown(fd, SHUT_RDWR);
}

void CableServer::serveControl(int fd) {
  std::string pending;
  char buffer[512];
  for (;;) {
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    pending.append(buffer, static_cast<size_t>(got));
    if (pending.size() > 64 * 1024) break;
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::string answer = control(line) + "\n";
      if (!writeExactly(fd, reinterpret_cast<const uint8_t*>(answer.data()), answer.size())) return;
    }
  }
  ::shutdown(fd, SHUT_RDWR);
}

std::string CableServer::control(const std::string& line) {
  bool dropLinks = false;
  const std::string answer = device_.control(line, nowMs(), dropLinks);
  if (dropLinks) dropAllCables();
  return answer;
}

void CableServer::dropAllCables() {
  std::lock_guard lock(mutex_);
  ++dropGeneration_;
  // Shutting the sockets down wakes their threads; each closes its own.
  // Control connections are left alone: only cable connections carry a link.
  for (Connection* connection : connections_)
    if (connection->cable && !connection->finished) ::shutdown(connection->fd, SHUT_RDWR);
  wake_.notify_all();
}

namespace {

int stopFd = -1;

void onSignal(int) {
  const char byte = 1;
  if (stopFd >= 0) (void)!::write(stopFd, &byte, 1);
}

}  // namespace

void serveUntilStopped(CableServer& server, bool exitWithParent) {
  stopFd = server.stopFd();
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const pid_t parent = ::getppid();
  server.run([&] { return !exitWithParent || ::getppid() == parent; });
  stopFd = -1;
}

std::function<void(const std::string&)> timedLogger(std::FILE* file) {
  const auto started = std::chrono::steady_clock::now();
  return [file, started](const std::string& line) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::fprintf(file, "%8lld %s\n", static_cast<long long>(ms.count()), line.c_str());
    std::fflush(file);
  };
}

}  // namespace fx60::sim
