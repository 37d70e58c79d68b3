#include "platform/cable/stream_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

namespace fx60::platform::cable {
namespace {

bool winsockReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    WSADATA data;
    ready = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ready;
}

SOCKET native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

// Whether bytes (or the peer's close) can be read within `milliseconds`.
bool readable(SocketHandle socket, int milliseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(native(socket), &set);
  timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &wait) > 0;
}

}  // namespace

// Only TCP ports on the loopback interface: the simulators run on the build
// machine, and Winsock's Unix sockets are not available everywhere (Wine 8 among
// them).
SocketHandle connectSocket(const std::string& address, int* error) {
  *error = 0;
  const auto port = loopbackPort(address);
  if (!port) {
    *error = WSAEAFNOSUPPORT;
    return kNoSocket;
  }
  if (!winsockReady()) {
    *error = WSASYSNOTREADY;
    return kNoSocket;
  }
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) {
    *error = WSAGetLastError();
    return kNoSocket;
  }
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in inet{};
  inet.sin_family = AF_INET;
  inet.sin_port = htons(*port);
  inet.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Non-blocking once connected: receiveNow takes what has arrived, waitReadable waits.
  u_long nonBlocking = 1;
  if (connect(s, reinterpret_cast<const sockaddr*>(&inet), sizeof inet) != 0 ||
      ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    *error = WSAGetLastError();
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<SocketHandle>(s);
}

void closeSocket(SocketHandle socket) {
  if (socket != kNoSocket) closesocket(native(socket));
}

// Whether there is room to send within `milliseconds`.
static bool writable(SocketHandle socket, int milliseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(native(socket), &set);
  timeval wait{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return select(0, nullptr, &set, nullptr, &wait) > 0;
}

bool sendAll(SocketHandle socket, const uint8_t* bytes, size_t count) {
  constexpr int kSendStallMs = 10000;  // a peer that takes nothing for this long is gone
  while (count > 0) {
    const int chunk = count > (1u << 30) ? (1 << 30) : static_cast<int>(count);
    const int sent = send(native(socket), reinterpret_cast<const char*>(bytes), chunk, 0);
    if (sent < 0 && WSAGetLastError() == WSAEWOULDBLOCK && writable(socket, kSendStallMs)) continue;
    if (sent <= 0) return false;
    bytes += sent;
    count -= static_cast<size_t>(sent);
  }
  return true;
}

ReceiveResult receiveNow(SocketHandle socket, uint8_t* bytes, size_t capacity, size_t* count) {
  *count = 0;
  const int chunk = capacity > (1u << 30) ? (1 << 30) : static_cast<int>(capacity);
  const int got = recv(native(socket), reinterpret_cast<char*>(bytes), chunk, 0);
  if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK) return ReceiveResult::NothingYet;
  if (got <= 0) return ReceiveResult::Closed;
  *count = static_cast<size_t>(got);
  return ReceiveResult::Received;
}

bool waitReadable(SocketHandle socket, int milliseconds) { return readable(socket, milliseconds); }

}  // namespace fx60::platform::cable
