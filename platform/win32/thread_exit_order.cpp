// Orders the clean-up of thread-local objects at thread exit.
//
// With MinGW-w64's thread model, thread-local variables live in storage that the
// runtime frees through one thread key, and their destructors run through
// another; keys are handled in the order they were made. Left alone, the storage
// key comes first (a thread-local is reached before its destructor is
// registered), so a destructor such as a buffer's unique_ptr runs on storage
// already freed, and the buffer is freed from garbage. Registering a destructor
// while the module loads makes the destructors' key first.
#include <cxxabi.h>

extern "C" char __dso_handle;

namespace {

void __attribute__((thiscall)) nothingToDo(void*) {}

int registrationTarget;

struct DestructorKeyFirst {
  DestructorKeyFirst() { __cxxabiv1::__cxa_thread_atexit(nothingToDo, &registrationTarget, &__dso_handle); }
} destructorKeyFirst;

}  // namespace
