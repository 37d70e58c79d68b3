// The few socket and process calls the tests' own servers need, on Linux and on
// Windows: a TCP listener on 127.0.0.1, accepting, whole sends and receives, the
// environment and the process id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace fx60::testing::test_sockets {

#ifdef _WIN32
using Socket = SOCKET;
inline constexpr Socket kNone = INVALID_SOCKET;
inline void closeSocket(Socket socket) {
  if (socket != kNone) ::closesocket(socket);
}
inline void shutdownBoth(Socket socket) { ::shutdown(socket, SD_BOTH); }
// Ends a pending accept by connecting to the listener: Winsock does not end it on
// shutdown, and closing the listener under a waiting thread is not reliable.
inline void wakeAccept(Socket& listener) {
  sockaddr_in address{};
  int length = sizeof address;
  if (::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
  const Socket poke = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (poke == kNone) return;
  ::connect(poke, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  closeSocket(poke);
}
inline constexpr int kSendFlags = 0;
inline void setEnvironment(const char* name, const char* value) { ::_putenv_s(name, value ? value : ""); }
inline int processId() { return static_cast<int>(::GetCurrentProcessId()); }
inline void removeSharedBlock(const char*) {}
inline bool socketsReady() {
  static const bool ready = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}
#else
using Socket = int;
inline constexpr Socket kNone = -1;
inline void closeSocket(Socket socket) {
  if (socket != kNone) ::close(socket);
}
inline void shutdownBoth(Socket socket) { ::shutdown(socket, SHUT_RDWR); }
inline void wakeAccept(Socket& listener) { shutdownBoth(listener); }
inline constexpr int kSendFlags = MSG_NOSIGNAL;
inline void setEnvironment(const char* name, const char* value) {
  if (value) ::setenv(name, value, 1);
  else ::unsetenv(name);
}
inline int processId() { return static_cast<int>(::getpid()); }
inline void removeSharedBlock(const char* name) { ::shm_unlink(name); }
inline bool socketsReady() { return true; }
#endif

// A listener on an unused TCP port of 127.0.0.1; `port` receives the port.
inline Socket listenOnLoopback(uint16_t* port) {
  if (!socketsReady()) return kNone;
  const Socket listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == kNone) return kNone;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closeSocket(listener);
    return kNone;
  }
  *port = ntohs(address.sin_port);
  return listener;
}

// Answers go out in two sends (length, then body): without TCP_NODELAY the second
// would wait for the peer's delayed acknowledgement of the first.
inline Socket acceptOne(Socket listener) {
  if (listener == kNone) return kNone;
  const Socket socket = ::accept(listener, nullptr, nullptr);
  if (socket != kNone) {
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  }
  return socket;
}

inline bool sendAll(Socket socket, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const auto sent = ::send(socket, reinterpret_cast<const char*>(bytes), static_cast<int>(count), kSendFlags);
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
  return true;
}

inline bool receiveAll(Socket socket, uint8_t* bytes, size_t count) {
  while (count > 0) {
    const auto got = ::recv(socket, reinterpret_cast<char*>(bytes), static_cast<int>(count), 0);
    if (got <= 0) return false;
    bytes += got;
    count -= static_cast<size_t>(got);
  }
  return true;
}

}  // namespace fx60::testing::test_sockets
