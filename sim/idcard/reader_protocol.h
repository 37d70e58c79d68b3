// The wire protocol between the card-reader library (libsdtapi.so) and the
// virtual card reader idcard-sim, and the status codes both use.
//
// Messages are framed as on the fingerprint module's virtual cable: a 32-bit
// little-endian byte count, then the body. A request's first byte is its opcode;
// an answer's first byte is a status below, followed by the opcode's data.
#pragma once

#include <cstdint>

namespace fx60::idcard {

// The environment variable naming the reader's socket.
inline constexpr const char* kSimulatorVariable = "IDCARD_SIMULATOR";

// How long the library waits for any answer of the reader before it counts as gone.
inline constexpr int kAnswerWaitMs = 2000;

enum ReaderOpcode : uint8_t {
  kOpOpen = 0x21,          // u32 port. Binds the connection to the port.
  kOpResetSam = 0x22,      // nothing
  kOpSamId = 0x23,         // nothing; answer: the serial number text
  kOpFindCard = 0x24,      // nothing
  kOpSelectCard = 0x25,    // nothing
  kOpReadBase = 0x26,      // nothing; answer: u32 n + text, u32 n + photo, u32 n + fingerprints
  kOpReadAppendix = 0x27,  // nothing; answer: u32 n + appendix (0 or 70 bytes)
};

// Results of the library's calls; the same values travel as the answer's first byte.
inline constexpr int kDone = 0x90;
inline constexpr int kCardFound = 0x9F;
inline constexpr int kUnreachable = 1;        // no reader (no simulator, unplugged) or none on this port
inline constexpr int kBadArgument = 0x10;     // a null pointer or an empty path from the caller
inline constexpr int kPortNotOpen = 0x11;     // openFlag 0 on a port this process has not opened
inline constexpr int kReaderLost = 0x12;      // the connection broke, or no answer came in time
inline constexpr int kReaderFault = 0x13;     // the reader reported a fault
inline constexpr int kNoCard = 0x14;          // no card lies on the reader
inline constexpr int kCardUnreadable = 0x15;  // the card on the reader cannot be read (a damaged card file)
inline constexpr int kFileNotWritten = 0x16;  // the file variants could not write a file

// The longest serial number the reader reports: a 60-byte buffer with its terminator.
inline constexpr int kMaxSerialLength = 59;

}  // namespace fx60::idcard
