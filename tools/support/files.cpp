#include "tools/support/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace fx60::tool {

namespace {

std::string systemError(const std::string& path, const char* doing, int code) {
  return path + ": " + doing + ": " + std::strerror(code);
}

// What a non-regular file is, for the message that refuses it.
std::string describeFileType(mode_t mode) {
  if (S_ISDIR(mode)) return "is a folder, not a file";
  if (S_ISFIFO(mode)) return "is a FIFO, not a regular file";
  if (S_ISSOCK(mode)) return "is a socket, not a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
  return "is not a regular file";
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports whether the close succeeded (a full disk may show here).
  bool close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

bool readInputFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& error, size_t maxBytes) {
  bytes.clear();
  if (path.empty()) {
    error = "an empty file name";
    return false;
  }
  // Non-blocking, so that opening a FIFO does not wait for a writer.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    error = systemError(path, "cannot open", errno);
    return false;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    error = systemError(path, "cannot read", errno);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    error = path + ": " + describeFileType(info.st_mode);
    return false;
  }
  if (info.st_size == 0) {
    error = path + ": the file is empty";
    return false;
  }
  if (static_cast<uintmax_t>(info.st_size) > maxBytes) {
    error = path + ": the file is too large (" + std::to_string(info.st_size) + " bytes, at most " +
            std::to_string(maxBytes) + ")";
    return false;
  }
  bytes.resize(static_cast<size_t>(info.st_size));
  size_t have = 0;
  while (have < bytes.size()) {
    const ssize_t got = ::read(file.get(), bytes.data() + have, bytes.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = systemError(path, "cannot read", errno);
      bytes.clear();
      return false;
    }
    if (got == 0) break;  // the file shrank while being read
    have += static_cast<size_t>(got);
  }
  bytes.resize(have);
  return true;
}

bool writeOutputFile(const std::string& path, const uint8_t* data, size_t size, std::string& error) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    error = path + ": is a folder; give a file name";
    return false;
  }
  // Non-blocking open, so that a FIFO nobody reads is refused instead of waited on;
  // the writes themselves block as usual.
  FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666));
  if (file.get() < 0) {
    error = errno == ENXIO ? path + ": is a FIFO that no process reads" : systemError(path, "cannot write", errno);
    return false;
  }
  ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
  size_t written = 0;
  while (written < size) {
    const ssize_t put = ::write(file.get(), data + written, size - written);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      error = systemError(path, "cannot write", put < 0 ? errno : ENOSPC);
      return false;
    }
    written += static_cast<size_t>(put);
  }
  if (!file.close()) {
    error = systemError(path, "cannot write", errno);
    return false;
  }
  return true;
}

std::string lowerExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  if (!extension.empty()) extension.erase(0, 1);
  for (char& ch : extension) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return extension;
}

bool checkTemplateOutputName(const std::string& path, std::string& error) {
  static const char* const kPictureExtensions[] = {"png", "pgm", "ppm", "pnm", "bmp", "jpg", "jpeg", "tif", "tiff", "gif"};
  const std::string extension = lowerExtension(path);
  for (const char* picture : kPictureExtensions) {
    if (extension == picture) {
      error = path + ": a template is 512 bytes of its own format, not a ." + extension + " picture; use a .tpl name";
      return false;
    }
  }
  return true;
}

}  // namespace fx60::tool
