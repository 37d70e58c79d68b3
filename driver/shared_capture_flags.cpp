#include "driver/shared_capture_flags.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/shared_memory.h"

namespace fx60::capture_flags {

namespace {

constexpr const char* kDefaultBlockName = "/fx60link-capture-flags";
constexpr int kSlots = 32;  // 16 indices x 2 transports

// The 64 flag bytes, then the process id owning each busy byte, so that a capture
// whose process died can be told from a running one.
struct SharedBlock {
  uint8_t flags[kSharedFlagsSize];
  int32_t owners[kSlots];
};

SharedBlock& block() {
  static SharedBlock* shared = [] {
    // The name can be changed so that independent test runs do not share state.
    const char* name = std::getenv("FX60_SHARED_FLAGS_NAME");
    void* mapped = platform::mapSharedBlock(name != nullptr && *name == '/' ? name : kDefaultBlockName,
                                            sizeof(SharedBlock));
    if (mapped != nullptr) return static_cast<SharedBlock*>(mapped);
    static SharedBlock privateBlock{};  // no shared memory: captures are still serialised here
    return &privateBlock;
  }();
  return *shared;
}

bool validIndex(int index) { return index >= 0 && index <= kMaxDeviceIndex; }

int busyOffset(TransportKind kind) { return kind == TransportKind::Hid ? kHidBusyOffset : kStorageBusyOffset; }
int cancelOffset(TransportKind kind) { return kind == TransportKind::Hid ? kHidCancelOffset : kStorageCancelOffset; }
int ownerSlot(TransportKind kind, int index) { return (kind == TransportKind::Hid ? 0 : 16) + index; }

std::atomic_ref<uint8_t> flag(int offset) { return std::atomic_ref<uint8_t>(block().flags[offset]); }
std::atomic_ref<int32_t> owner(TransportKind kind, int index) {
  return std::atomic_ref<int32_t>(block().owners[ownerSlot(kind, index)]);
}

// Takes the owner word over from a process that has died, or claims it when free.
bool claimOwner(TransportKind kind, int index) {
  const int32_t self = platform::currentProcessId();
  int32_t current = 0;
  if (owner(kind, index).compare_exchange_strong(current, self)) return true;
  if (current == self || platform::processIsAlive(current)) return false;
  return owner(kind, index).compare_exchange_strong(current, self);
}

}  // namespace

bool tryBegin(TransportKind kind, int index) {
  if (!validIndex(index) || !claimOwner(kind, index)) return false;
  flag(busyOffset(kind) + index).store(1);
  flag(cancelOffset(kind) + index).store(0);
  return true;
}

void end(TransportKind kind, int index) {
  if (!validIndex(index)) return;
  flag(cancelOffset(kind) + index).store(0);
  flag(busyOffset(kind) + index).store(0);
  owner(kind, index).store(0);
}

bool isBusy(TransportKind kind, int index) {
  if (!validIndex(index) || flag(busyOffset(kind) + index).load() == 0) return false;
  const int32_t holder = owner(kind, index).load();
  if (holder == 0 || platform::processIsAlive(holder)) return true;
  // The capturing process died: release its bytes so nobody waits on them.
  int32_t expected = holder;
  if (owner(kind, index).compare_exchange_strong(expected, 0)) {
    flag(cancelOffset(kind) + index).store(0);
    flag(busyOffset(kind) + index).store(0);
  }
  return false;
}

bool cancelRequested(TransportKind kind, int index) {
  return validIndex(index) && flag(cancelOffset(kind) + index).load() != 0;
}

void requestCancel(TransportKind kind, int index) {
  if (validIndex(index)) flag(cancelOffset(kind) + index).store(1);
}

void snapshot(uint8_t out[kSharedFlagsSize]) {
  for (int i = 0; i < kSharedFlagsSize; ++i) out[i] = flag(i).load();
}

}  // namespace fx60::capture_flags
