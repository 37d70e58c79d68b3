// Reading the files a user names and writing the files a tool makes, with a
// one-line message for anything that is not what it should be.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fx60::tool {

// Largest input file the tools read; no image or template comes near it.
inline constexpr size_t kMaxInputBytes = size_t{64} << 20;

// Reads the whole regular file at `path`. A folder, a FIFO, a device, an empty
// file, an unreadable one or one larger than `maxBytes` is refused with a message
// in `error` that starts with the path. Never blocks on a FIFO.
bool readInputFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error,
                   size_t maxBytes = kMaxInputBytes);

// Writes `bytes` to `path`, replacing a regular file there; false with a message
// (a folder in the way, no permission, disk full) otherwise.
bool writeOutputFile(const std::string& path, const uint8_t* data, size_t size, std::string& error);

// A template is 512 bytes of its own format: a name that promises a picture
// (.png, .pgm, .jpg, ...) is refused with a message in `error`.
bool checkTemplateOutputName(const std::string& path, std::string& error);

// The extension of the file name in lower case, without the dot ("" if none).
std::string lowerExtension(const std::string& path);

}  // namespace fx60::tool
