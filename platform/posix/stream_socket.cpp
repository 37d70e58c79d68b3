#include "platform/cable/stream_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fx60::platform::cable {

SocketHandle connectSocket(const std::string& address, int* error) {
  *error = 0;
  int fd = -1;
  int connected = -1;
  if (const auto port = loopbackPort(address)) {
    sockaddr_in inet{};
    inet.sin_family = AF_INET;
    inet.sin_port = htons(*port);
    inet.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
      // Requests are small and each waits for its answer: send them at once.
      const int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&inet), sizeof inet);
    }
  } else {
    sockaddr_un local{};
    local.sun_family = AF_UNIX;
    if (address.empty() || address.size() >= sizeof local.sun_path) {
      *error = ENAMETOOLONG;
      return kNoSocket;
    }
    std::memcpy(local.sun_path, address.data(), address.size());
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local);
  }
  if (fd < 0 || connected != 0) {
    *error = errno;
    if (fd >= 0) ::close(fd);
    return kNoSocket;
  }
  return fd;
}

void closeSocket(SocketHandle socket) {
  if (socket != kNoSocket) ::close(static_cast<int>(socket));
}

bool sendAll(SocketHandle socket, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t sent = ::send(static_cast<int>(socket), bytes, count, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
  return true;
}

ReceiveResult receiveNow(SocketHandle socket, uint8_t* bytes, size_t capacity, size_t* count) {
  *count = 0;
  for (;;) {
    const ssize_t got = ::recv(static_cast<int>(socket), bytes, capacity, MSG_DONTWAIT);
    if (got > 0) {
      *count = static_cast<size_t>(got);
      return ReceiveResult::Received;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReceiveResult::NothingYet;
    return ReceiveResult::Closed;
  }
}

bool waitReadable(SocketHandle socket, int milliseconds) {
  for (;;) {
    pollfd entry{static_cast<int>(socket), POLLIN, 0};
    const int ready = ::poll(&entry, 1, milliseconds);
    if (ready < 0 && errno == EINTR) continue;
    return ready > 0;
  }
}

}  // namespace fx60::platform::cable
