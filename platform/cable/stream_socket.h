// The operating system's stream sockets as the virtual cable needs them: connect
// to a simulator, send, receive what has arrived, wait for more.
//
// A simulator address is either a Unix socket path or, when it is made of decimal
// digits only, a TCP port on 127.0.0.1 (the form Windows programs use: a Windows
// program under Wine reaches a simulator on the Linux side this way).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace fx60::platform::cable {

using SocketHandle = intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// The TCP port an address names, when it is a port number (1..65535).
std::optional<uint16_t> loopbackPort(const std::string& address);

// A connected socket, or kNoSocket. `error` receives the system's error number.
SocketHandle connectSocket(const std::string& address, int* error);
void closeSocket(SocketHandle socket);

// Sends every byte; false when the connection is gone.
bool sendAll(SocketHandle socket, const uint8_t* bytes, size_t count);

enum class ReceiveResult { Received, NothingYet, Closed };

// Reads what has already arrived, without waiting; `count` receives the bytes read.
ReceiveResult receiveNow(SocketHandle socket, uint8_t* bytes, size_t capacity, size_t* count);

// Waits up to `milliseconds` for bytes (or the peer's close) to arrive; false on
// time-out or error.
bool waitReadable(SocketHandle socket, int milliseconds);

}  // namespace fx60::platform::cable
