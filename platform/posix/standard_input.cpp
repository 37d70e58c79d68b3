#include "platform/standard_input.h"

#include <poll.h>
#include <unistd.h>

namespace fx60::platform {

InputRead readReadyStandardInput(std::string& text) {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (::poll(&input, 1, 0) <= 0) return InputRead::Nothing;
  char buffer[4096];
  const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (count <= 0) return InputRead::Ended;
  text.append(buffer, static_cast<size_t>(count));
  return InputRead::Data;
}

}  // namespace fx60::platform
