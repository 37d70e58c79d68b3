#include "platform/standard_input.h"

#include <windows.h>

namespace fx60::platform {

namespace {

constexpr DWORD kChunkBytes = 4096;

// Reads at most `limit` bytes; Ended at the end of the input or on an error.
InputRead readSome(HANDLE input, DWORD limit, std::string& text) {
  char buffer[kChunkBytes];
  DWORD count = 0;
  if (!ReadFile(input, buffer, limit < kChunkBytes ? limit : kChunkBytes, &count, nullptr) || count == 0)
    return InputRead::Ended;
  text.append(buffer, count);
  return InputRead::Data;
}

}  // namespace

InputRead readReadyStandardInput(std::string& text) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return InputRead::Ended;
  switch (GetFileType(input)) {
    case FILE_TYPE_PIPE: {
      // Only what the pipe holds, so that the read cannot wait; a closed writer
      // ends the input. A pipe that cannot be looked into (Wine's view of a
      // Unix pipe) is read as it comes, waiting for each line.
      DWORD ready = 0;
      if (!PeekNamedPipe(input, nullptr, 0, nullptr, &ready, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? InputRead::Ended : readSome(input, kChunkBytes, text);
      return ready == 0 ? InputRead::Nothing : readSome(input, ready, text);
    }
    case FILE_TYPE_CHAR: {
      // A console is signalled once input events are queued; the read then takes
      // the line being typed. A character device that is no console (NUL) reads
      // as ended.
      DWORD mode = 0;
      if (GetConsoleMode(input, &mode) && WaitForSingleObject(input, 0) != WAIT_OBJECT_0) return InputRead::Nothing;
      return readSome(input, kChunkBytes, text);
    }
    default:
      // A file is always ready; reading past its end ends the input.
      return readSome(input, kChunkBytes, text);
  }
}

}  // namespace fx60::platform
