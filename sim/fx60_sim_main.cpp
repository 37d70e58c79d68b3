// fx60-sim: a simulated fingerprint module on a Unix socket.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "sim/cable_server.h"
#include "sim/simulated_module.h"

namespace {

using namespace fx60::sim;

constexpr const char* kUsage =
    "usage: fx60-sim [options] SOCKET\n"
    "Serves a simulated fingerprint module on the Unix stream socket SOCKET, or on\n"
    "the TCP port SOCKET of 127.0.0.1 when it is a number (for Windows programs).\n"
    "  --mode storage|hid     wire protocol (default storage)\n"
    "  --images PATH          a .pgm file or a folder of them (256 x 360), served in\n"
    "                         turn; repeatable. Without it: impressions 1 to 8 of a\n"
    "                         synthetic finger, in turn\n"
    "  --seed N               the synthetic finger, 0..4294967295 (default 1): the\n"
    "                         finger of fx60 synth --seed N, images 1_1 to 1_8\n"
    "  --finger SCRIPT        finger timeline, e.g. \"absent:3 present:400ms lifted\";\n"
    "                         steps last N polls (:N) or milliseconds (:Nms), the\n"
    "                         last for ever (default \"present\")\n"
    "  --finger-file FILE     the timeline script from a file\n"
    "  --fault RULE           KIND[@COMMAND][+SKIP][:COUNT|:*], repeatable. Kinds: crc,\n"
    "                         write-fail, read-fail, short-read, stall, bad-status,\n"
    "                         bad-checksum, bad-header, unplug. Commands: indicator,\n"
    "                         version, detect, start-image, image-half (storage);\n"
    "                         indicator, connect, detect, disconnect, version, image,\n"
    "                         image-data (hid); or a numeric code\n"
    "  --image-size WxH       announce and send images of another size\n"
    "  --version-text TEXT    the module's version text\n"
    "  --inquiry TEXT         the 28-character SCSI identity (vendor, product, revision)\n"
    "  --report-length N      HID input and output report length (default 65)\n"
    "  --report-len IN/OUT[/FEAT]  HID input, output and feature report lengths\n"
    "                         apart (defaults 65/65/0); IN sizes every report\n"
    "  --control PATH         accept live commands on this socket, one per line:\n"
    "                         place, lift, image FILE, script SCRIPT, fault RULE,\n"
    "                         unplug, plug, status\n"
    "  --log[=FILE]           log every request (to stderr, or to FILE)\n"
    "  --exit-with-parent     stop when the starting process has gone (for tests)\n";

// IN/OUT or IN/OUT/FEAT: input 10..4096 (a report must carry a response
// packet), output and feature 0..4096.
bool parseReportLengths(const std::string& text, ModuleConfig& config) {
  int lengths[3] = {0, 0, 0};
  int count = 0;
  const char* at = text.data();
  const char* const end = text.data() + text.size();
  while (count < 3) {
    const auto [next, ec] = std::from_chars(at, end, lengths[count]);
    if (ec != std::errc() || lengths[count] < 0 || lengths[count] > 4096) return false;
    ++count;
    at = next;
    if (at == end || *at != '/') break;
    ++at;
  }
  if (at != end || count < 2 || lengths[0] < 10) return false;
  config.inputReportLength = static_cast<uint16_t>(lengths[0]);
  config.outputReportLength = static_cast<uint16_t>(lengths[1]);
  if (count == 3) config.featureReportLength = static_cast<uint16_t>(lengths[2]);
  return true;
}

bool parseSize(const std::string& text, int& width, int& height) {
  char separator = 0;
  std::istringstream in(text);
  return (in >> width >> separator >> height) && (separator == 'x' || separator == 'X') && in.eof() &&
         width > 0 && height > 0 && width <= 4096 && height <= 4096;
}

// The whole of a regular file; false with the reason otherwise (a FIFO is not
// opened, which would wait for a writer).
bool readScriptFile(const std::string& path, std::string& text, std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = path + (std::filesystem::is_directory(path, ec) ? ": is a folder"
                    : std::filesystem::exists(path, ec)  ? ": is not a regular file"
                                                         : ": no such file");
    return false;
  }
  std::ifstream in(path);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in && !in.eof()) {
    error = path + ": cannot read";
    return false;
  }
  text = content.str();
  return true;
}

// Opens the log for appending lines; a FIFO that nobody reads is refused rather
// than waited on.
std::FILE* openLog(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) {
    error = path + ": " + (errno == ENXIO ? std::string("a FIFO that nobody reads") : std::strerror(errno));
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    error = path + ": " + std::strerror(errno);
    ::close(fd);
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  ModuleConfig config;
  ImageSource images;
  std::vector<std::string> imagePaths;
  uint32_t seed = 1;
  std::string fingerScript = "present";
  std::vector<std::string> faultRules;
  std::string socketPath, controlPath, logPath;
  bool logging = false;
  bool exitWithParent = false;

  std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        std::cerr << "fx60-sim: " << arg << " needs a value\n";
        std::exit(2);
      }
      out = args[++i];
    };
    std::string text;
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--mode") {
      value(text);
      if (text == "storage") config.mode = WireMode::Storage;
      else if (text == "hid") config.mode = WireMode::Hid;
      else {
        std::cerr << "fx60-sim: unknown mode '" << text << "'\n";
        return 2;
      }
    } else if (arg == "--images") {
      value(text);
      imagePaths.push_back(text);
    } else if (arg == "--seed") {
      value(text);
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seed);
      if (ec != std::errc() || end != text.data() + text.size()) {
        std::cerr << "fx60-sim: bad seed '" << text << "'\n";
        return 2;
      }
    } else if (arg == "--finger") {
      value(fingerScript);
    } else if (arg == "--finger-file") {
      value(text);
      std::string error;
      if (!readScriptFile(text, fingerScript, error)) {
        std::cerr << "fx60-sim: --finger-file " << error << "\n";
        return 2;
      }
    } else if (arg == "--fault") {
      value(text);
      faultRules.push_back(text);
    } else if (arg == "--image-size") {
      value(text);
      if (!parseSize(text, config.imageWidth, config.imageHeight)) {
        std::cerr << "fx60-sim: bad image size '" << text << "'\n";
        return 2;
      }
    } else if (arg == "--version-text") {
      value(config.versionText);
    } else if (arg == "--inquiry") {
      value(text);
      text.resize(28, ' ');
      config.inquiryVendor = text.substr(0, 8);
      config.inquiryProduct = text.substr(8, 16);
      config.inquiryRevision = text.substr(24, 4);
    } else if (arg == "--report-length") {
      value(text);
      int length = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), length);
      if (ec != std::errc() || end != text.data() + text.size() || length < 10 || length > 4096) {
        std::cerr << "fx60-sim: report length must be 10..4096\n";
        return 2;
      }
      config.inputReportLength = config.outputReportLength = static_cast<uint16_t>(length);
    } else if (arg == "--report-len") {
      value(text);
      if (!parseReportLengths(text, config)) {
        std::cerr << "fx60-sim: bad report lengths '" << text << "' (IN/OUT[/FEAT], IN 10..4096, others 0..4096)\n";
        return 2;
      }
    } else if (arg == "--control") {
      value(controlPath);
    } else if (arg == "--exit-with-parent") {
      exitWithParent = true;
    } else if (arg == "--log") {
      logging = true;
    } else if (arg.starts_with("--log=")) {
      logging = true;
      logPath = arg.substr(6);
    } else if (arg.starts_with("--")) {
      std::cerr << "fx60-sim: unknown option " << arg << "\n" << kUsage;
      return 2;
    } else if (socketPath.empty()) {
      socketPath = arg;
    } else {
      std::cerr << "fx60-sim: more than one socket path\n";
      return 2;
    }
  }
  if (socketPath.empty()) {
    std::cerr << kUsage;
    return 2;
  }

  std::string error;
  images = ImageSource(seed);
  for (const auto& path : imagePaths) {
    if (!images.add(path, &error)) {
      std::cerr << "fx60-sim: " << error << "\n";
      return 1;
    }
  }
  // The synthetic finger is made before the socket opens, so that no capture
  // waits for it.
  if (imagePaths.empty()) images.prepareFinger();
  auto timeline = FingerTimeline::parse(fingerScript, &error);
  if (!timeline) {
    std::cerr << "fx60-sim: finger script: " << error << "\n";
    return 2;
  }
  FaultPlan faults;
  for (const auto& ruleText : faultRules) {
    auto rule = parseFaultRule(ruleText, config.mode, &error);
    if (!rule) {
      std::cerr << "fx60-sim: " << error << "\n";
      return 2;
    }
    faults.add(*rule);
  }

  SimulatedModule module(config, std::move(images), std::move(*timeline), std::move(faults));

  std::FILE* logFile = nullptr;
  if (logging) {
    logFile = logPath.empty() ? stderr : openLog(logPath, error);
    if (logFile == nullptr) {
      std::cerr << "fx60-sim: cannot write the log: " << error << "\n";
      return 1;
    }
    module.setLogger(timedLogger(logFile));
  }

  int status = 0;
  {
    CableServer server(module, socketPath, controlPath);
    if (!server.start(&error)) {
      std::cerr << "fx60-sim: " << error << "\n";
      return 1;
    }
    serveUntilStopped(server, exitWithParent);
  }
  if (logFile != nullptr && logFile != stderr) std::fclose(logFile);
  return status;
}
