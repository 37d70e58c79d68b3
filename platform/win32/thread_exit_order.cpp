// Orders the clean-up of thread-local objects at thread exit.
//
// With MinGW-w64's thread model, thread-local variables live in storage that the
// runtime frees through one thread key, and their destructors run through
// another; keys are handled in the order they were made. Left alone, the storage
// key comes first (a thread-local is reached before its destructor is
// registered), so a destructor such as a buffer's unique_ptr runs on storage
// already freed, and the buffer is freed from garbage. Registering a destructor
// while the module loads makes the destructors' key first.
//
// That registration ties the module to the thread that loaded it: a DLL freed
// before that thread ends is called back at the thread's end, and the thread
// hangs there (a station worker that loads and frees the photo decoder per card).
// So the module stays loaded until the process ends.
#include <windows.h>
#include <cxxabi.h>

extern "C" char __dso_handle;

namespace {

void __attribute__((thiscall)) nothingToDo(void*) {}

int registrationTarget;

struct DestructorKeyFirst {
  DestructorKeyFirst() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&registrationTarget), &self);
    __cxxabiv1::__cxa_thread_atexit(nothingToDo, &registrationTarget, &__dso_handle);
  }
} destructorKeyFirst;

}  // namespace
