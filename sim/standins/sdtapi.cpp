// libsdtapi.so: the card-reader library, talking to the virtual card reader
// (idcard-sim) over the Unix socket named by IDCARD_SIMULATOR.
//
// SDT_OpenPort opens a connection bound to the port and keeps it until
// SDT_ClosePort; calls with openFlag 0 use it. Calls with openFlag 1 open a
// connection of their own and close it again. The buffers are those of the
// reader's blocks: text 256 bytes, photo 1024, fingerprints 1024, appendix 70,
// serial number text 60.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>

#include "platform/cable/connection.h"
#include "sim/byte_order.h"
#include "sim/idcard/reader_protocol.h"
#include "sim/standins/standin_export.h"

namespace {

using fx60::platform::cable::Connection;
using namespace fx60::idcard;

using Bytes = std::vector<uint8_t>;

// The connections of the ports this process opened. One lock for all: each call
// is one short exchange, bounded by kAnswerWaitMs.
struct OpenPorts {
  std::mutex mutex;
  std::map<int, std::unique_ptr<Connection>> connections;
};

OpenPorts& openPorts() {
  static OpenPorts ports;
  return ports;
}

// A connection bound to the port, or the status that says why there is none.
int connectPort(int port, std::unique_ptr<Connection>& connection) {
  const char* socketPath = std::getenv(kSimulatorVariable);
  if (socketPath == nullptr || *socketPath == '\0') return kUnreachable;
  connection = Connection::open(socketPath);
  if (!connection) return kUnreachable;
  Bytes request{kOpOpen};
  fx60::sim::appendU32(request, static_cast<uint32_t>(port));
  const auto answer = connection->exchange(request, kAnswerWaitMs);
  const int status = answer && !answer->empty() ? (*answer)[0] : kUnreachable;
  if (status != kDone) connection.reset();
  return status;
}

// One request on the port; the answer's status, with the answer in `answer`.
int requestOnPort(int port, int openFlag, uint8_t opcode, Bytes& answer) {
  const Bytes request{opcode};
  auto exchange = [&](Connection& connection) {
    auto received = connection.exchange(request, kAnswerWaitMs);
    if (!received || received->empty()) return kReaderLost;
    answer = std::move(*received);
    return static_cast<int>(answer[0]);
  };
  if (openFlag != 0) {
    std::unique_ptr<Connection> own;
    const int status = connectPort(port, own);
    return status == kDone ? exchange(*own) : status;
  }
  OpenPorts& ports = openPorts();
  std::lock_guard lock(ports.mutex);
  const auto found = ports.connections.find(port);
  if (found == ports.connections.end()) return kPortNotOpen;
  const int status = exchange(*found->second);
  if (found->second->broken()) ports.connections.erase(found);  // the reader went away
  return status;
}

// Splits an answer's data (after the status byte) into length-prefixed blocks.
bool splitBlocks(const Bytes& answer, std::span<Bytes> blocks) {
  size_t at = 1;
  for (Bytes& block : blocks) {
    if (answer.size() - at < 4) return false;
    const uint32_t length = fx60::sim::readU32(answer, at);
    at += 4;
    if (answer.size() - at < length) return false;
    block.assign(answer.begin() + static_cast<std::ptrdiff_t>(at), answer.begin() + static_cast<std::ptrdiff_t>(at + length));
    at += length;
  }
  return at == answer.size();
}

struct BaseBlocks {
  Bytes text, photo, fingerprints;
};

// Reads the card's three blocks; the status.
int readBase(int port, int openFlag, BaseBlocks& base) {
  Bytes answer;
  const int status = requestOnPort(port, openFlag, kOpReadBase, answer);
  if (status != kDone) return status;
  Bytes blocks[3];
  if (!splitBlocks(answer, blocks) || blocks[0].size() != 256 || blocks[1].size() != 1024 || blocks[2].size() > 1024)
    return kReaderLost;
  base = {std::move(blocks[0]), std::move(blocks[1]), std::move(blocks[2])};
  return kDone;
}

void deliver(const Bytes& block, unsigned char* buffer, unsigned int* length) {
  if (!block.empty()) std::memcpy(buffer, block.data(), block.size());
  *length = static_cast<unsigned int>(block.size());
}

// Writes every (path, block) pair; on any failure removes what it wrote.
bool writeFiles(std::initializer_list<std::pair<const char*, const Bytes*>> files) {
  std::vector<const char*> written;
  for (const auto& [path, block] : files) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(block->data()), static_cast<std::streamsize>(block->size()));
    out.close();
    if (!out) {
      for (const char* done : written) std::remove(done);
      std::remove(path);
      return false;
    }
    written.push_back(path);
  }
  return true;
}

bool emptyPath(const char* path) { return path == nullptr || *path == '\0'; }

}  // namespace

STANDIN_EXPORT int SDT_OpenPort(int port) {
  std::unique_ptr<Connection> connection;
  const int status = connectPort(port, connection);
  if (status != kDone) return status;
  OpenPorts& ports = openPorts();
  std::lock_guard lock(ports.mutex);
  ports.connections[port] = std::move(connection);  // a second open replaces the first
  return kDone;
}

STANDIN_EXPORT int SDT_ClosePort(int port) {
  OpenPorts& ports = openPorts();
  std::lock_guard lock(ports.mutex);
  return ports.connections.erase(port) > 0 ? kDone : kPortNotOpen;
}

STANDIN_EXPORT int SDT_ResetSAM(int port, int openFlag) {
  Bytes answer;
  return requestOnPort(port, openFlag, kOpResetSam, answer);
}

STANDIN_EXPORT int SDT_GetSAMIDToStr(int port, char* serialText, int openFlag) {
  if (serialText == nullptr) return kBadArgument;
  Bytes answer;
  const int status = requestOnPort(port, openFlag, kOpSamId, answer);
  if (status != kDone) return status;
  const size_t length = std::min<size_t>(answer.size() - 1, kMaxSerialLength);
  std::memcpy(serialText, answer.data() + 1, length);
  serialText[length] = '\0';
  return kDone;
}

STANDIN_EXPORT int SDT_StartFindIDCard(int port, unsigned char* /*scratch256*/, int openFlag) {
  Bytes answer;
  return requestOnPort(port, openFlag, kOpFindCard, answer);
}

STANDIN_EXPORT int SDT_SelectIDCard(int port, unsigned char* /*scratch256*/, int openFlag) {
  Bytes answer;
  return requestOnPort(port, openFlag, kOpSelectCard, answer);
}

STANDIN_EXPORT int SDT_ReadBaseMsg(int port, unsigned char* text, unsigned int* textLength, unsigned char* photo,
                                   unsigned int* photoLength, int openFlag) {
  if (!text || !textLength || !photo || !photoLength) return kBadArgument;
  *textLength = *photoLength = 0;
  BaseBlocks base;
  const int status = readBase(port, openFlag, base);
  if (status != kDone) return status;
  deliver(base.text, text, textLength);
  deliver(base.photo, photo, photoLength);
  return kDone;
}

STANDIN_EXPORT int SDT_ReadBaseFPMsg(int port, unsigned char* text, unsigned int* textLength, unsigned char* photo,
                                     unsigned int* photoLength, unsigned char* fingerprint,
                                     unsigned int* fingerprintLength, int openFlag) {
  if (!text || !textLength || !photo || !photoLength || !fingerprint || !fingerprintLength) return kBadArgument;
  *textLength = *photoLength = *fingerprintLength = 0;
  BaseBlocks base;
  const int status = readBase(port, openFlag, base);
  if (status != kDone) return status;
  deliver(base.text, text, textLength);
  deliver(base.photo, photo, photoLength);
  deliver(base.fingerprints, fingerprint, fingerprintLength);
  return kDone;
}

STANDIN_EXPORT int SDT_ReadNewAppMsg(int port, unsigned char* appendix, unsigned int* appendixLength, int openFlag) {
  if (!appendix || !appendixLength) return kBadArgument;
  *appendixLength = 0;
  Bytes answer;
  const int status = requestOnPort(port, openFlag, kOpReadAppendix, answer);
  if (status != kDone) return status;
  Bytes block[1];
  if (!splitBlocks(answer, block) || block[0].size() > 70) return kReaderLost;
  deliver(block[0], appendix, appendixLength);
  return kDone;
}

STANDIN_EXPORT int SDT_ReadBaseMsgToFile(int port, const char* textFile, const char* photoFile, int openFlag) {
  if (emptyPath(textFile) || emptyPath(photoFile)) return kBadArgument;
  BaseBlocks base;
  const int status = readBase(port, openFlag, base);
  if (status != kDone) return status;
  return writeFiles({{textFile, &base.text}, {photoFile, &base.photo}}) ? kDone : kFileNotWritten;
}

STANDIN_EXPORT int SDT_ReadBaseFPMsgToFile(int port, const char* textFile, const char* photoFile,
                                           const char* fingerprintFile, int openFlag) {
  if (emptyPath(textFile) || emptyPath(photoFile) || emptyPath(fingerprintFile)) return kBadArgument;
  BaseBlocks base;
  const int status = readBase(port, openFlag, base);
  if (status != kDone) return status;
  return writeFiles({{textFile, &base.text}, {photoFile, &base.photo}, {fingerprintFile, &base.fingerprints}})
             ? kDone
             : kFileNotWritten;
}
