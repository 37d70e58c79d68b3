// Standard input read as it arrives, without waiting: for a program that runs its
// own loop and takes lines between other work.
#pragma once

#include <string>

namespace fx60::platform {

enum class InputRead {
  Nothing,  // no input ready now
  Data,     // bytes were appended
  Ended,    // the input has ended (or cannot be read); later calls say so again
};

// Appends to `text` what standard input holds ready now, without blocking.
InputRead readReadyStandardInput(std::string& text);

}  // namespace fx60::platform
