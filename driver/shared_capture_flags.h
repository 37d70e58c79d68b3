// Busy and cancel bytes per device index and transport, shared by every process
// that loads the library, so that a capture can be cancelled from another process
// and two captures cannot run on one index at once.
#pragma once

#include <cstdint>

#include "driver/transport.h"

namespace fx60 {

inline constexpr int kMaxDeviceIndex = 15;
inline constexpr int kSharedFlagsSize = 64;

// Byte layout of the shared block.
inline constexpr int kHidCancelOffset = 0;
inline constexpr int kHidBusyOffset = 16;
inline constexpr int kStorageCancelOffset = 32;
inline constexpr int kStorageBusyOffset = 48;

namespace capture_flags {

// Atomically claims the busy byte of (kind, index) and clears its cancel byte.
// False when a live capture already holds it. A busy byte held by a process that
// has died is taken over.
bool tryBegin(TransportKind kind, int index);

// Clears both bytes of (kind, index); called when a capture ends, whatever its outcome.
void end(TransportKind kind, int index);

bool isBusy(TransportKind kind, int index);
bool cancelRequested(TransportKind kind, int index);
void requestCancel(TransportKind kind, int index);

// A copy of the 64 shared bytes, for tests and diagnostics.
void snapshot(uint8_t out[kSharedFlagsSize]);

}  // namespace capture_flags
}  // namespace fx60
