// fx60 synth: a folder of synthetic fingerprints, <finger>_<impression>.pgm, the
// naming fx60 eval reads.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "synth/generator.h"
#include "tools/commands.h"

namespace fx60::tool {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMaxFingers = 100000;
constexpr uint32_t kMaxImpressions = 100;
constexpr uint32_t kMaxThreads = 256;

constexpr const char* kUsage = "DIR [--fingers N] [--impressions N] [--seed N] [--class NAME] [--threads N]";

constexpr const char* kHelp =
    "usage: fx60 synth DIR [OPTIONS]\n"
    "\n"
    "Writes synthetic fingerprints, 256 x 360 grey at about 500 dpi, into the folder\n"
    "DIR (made if missing) as <finger>_<impression>.pgm, the naming fx60 eval reads.\n"
    "Each finger gets a master ridge pattern; each impression shows it turned, moved,\n"
    "stretched, pressed harder or lighter, with noise and a partial contact area.\n"
    "The same options give the same bytes on every machine.\n"
    "\n"
    "options:\n"
    "  --fingers N       number of fingers, 1..100000 (default 100)\n"
    "  --impressions N   impressions per finger, 1..100 (default 8)\n"
    "  --seed N          seed of the set, 0..18446744073709551615 (default 1); finger K\n"
    "                    of a seed is the same finger whatever --fingers says\n"
    "  --class NAME      arch, tented-arch, left-loop, right-loop, whorl, or mixed:\n"
    "                    each finger's class drawn with the shares of real fingers\n"
    "                    (default mixed)\n"
    "  --threads N       fingers made at once, 1..256 (default: one per core); the\n"
    "                    images do not depend on it\n"
    "  -h, --help        this text\n"
    "\n"
    "exit status: 0 written, 1 the folder or a file could not be written, 2 bad usage\n"
    "\n"
    "example: fx60 synth /tmp/synthetic --fingers 100 --impressions 8 && fx60 eval /tmp/synthetic\n";

struct SynthOptions {
  std::string folder;
  uint32_t fingers = 100;
  uint32_t impressions = 8;
  uint64_t seed = 1;
  std::optional<synth::FingerClass> fingerClass;
  uint32_t threads = 0;  // 0: one per core
  bool help = false;
};

// A whole decimal number in [low, high], nothing else.
template <typename Number>
std::optional<Number> parseNumber(const std::string& text, Number low, Number high) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) return std::nullopt;
  return value;
}

// Fills `options`; on bad usage prints why and returns false.
bool parseOptions(const std::vector<std::string>& args, SynthOptions& options) {
  auto fail = [](const std::string& message) {
    std::fprintf(stderr, "fx60 synth: %s\n", message.c_str());
    return false;
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
      return true;
    }
    const bool takesValue =
        arg == "--fingers" || arg == "--impressions" || arg == "--seed" || arg == "--class" || arg == "--threads";
    if (takesValue && i + 1 >= args.size()) return fail(arg + " needs a value");
    const std::string value = takesValue ? args[++i] : std::string();
    auto number = [&](auto& target, auto low, auto high) {
      const auto parsed = parseNumber<std::remove_reference_t<decltype(target)>>(value, low, high);
      if (!parsed)
        return fail(arg + " takes a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                    ", not '" + value + "'");
      target = *parsed;
      return true;
    };
    if (arg == "--fingers") {
      if (!number(options.fingers, 1u, kMaxFingers)) return false;
    } else if (arg == "--impressions") {
      if (!number(options.impressions, 1u, kMaxImpressions)) return false;
    } else if (arg == "--seed") {
      if (!number(options.seed, uint64_t{0}, UINT64_MAX)) return false;
    } else if (arg == "--threads") {
      if (!number(options.threads, 1u, kMaxThreads)) return false;
    } else if (arg == "--class") {
      if (value == "mixed") {
        options.fingerClass.reset();
      } else if (const auto parsed = synth::parseFingerClass(value)) {
        options.fingerClass = parsed;
      } else {
        return fail("--class takes arch, tented-arch, left-loop, right-loop, whorl or mixed, not '" + value + "'");
      }
    } else if (!arg.empty() && arg[0] == '-') {
      return fail("unknown option " + arg);
    } else if (options.folder.empty()) {
      options.folder = arg;
    } else {
      return fail("one folder only (" + options.folder + " and " + arg + ")");
    }
  }
  if (options.folder.empty()) return fail("no folder given");
  return true;
}

bool writePgm(const fs::path& file, const synth::Image& image) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "P5\n" << synth::kImageWidth << ' ' << synth::kImageHeight << "\n255\n";
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  out.close();
  return static_cast<bool>(out);
}

int runSynth(const std::vector<std::string>& args) {
  SynthOptions options;
  if (!parseOptions(args, options)) {
    std::fprintf(stderr, "usage: fx60 synth %s (fx60 synth --help for more)\n", kUsage);
    return 2;
  }
  if (options.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  const fs::path folder(options.folder);
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder)) {
    std::fprintf(stderr, "fx60 synth: cannot make the folder %s%s%s\n", options.folder.c_str(),
                 error ? ": " : "", error ? error.message().c_str() : "");
    return 1;
  }

  uint32_t threads = options.threads ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  threads = std::min(threads, options.fingers);
  std::atomic<uint32_t> nextFinger{1};
  std::atomic<bool> failed{false};
  auto worker = [&] {
    for (uint32_t number = nextFinger++; number <= options.fingers && !failed; number = nextFinger++) {
      const synth::Finger finger = synth::makeFinger(options.seed, number, options.fingerClass);
      for (uint32_t impression = 1; impression <= options.impressions; ++impression) {
        const fs::path file = folder / (std::to_string(number) + "_" + std::to_string(impression) + ".pgm");
        if (!writePgm(file, synth::makeImpression(finger, impression))) {
          if (!failed.exchange(true)) std::fprintf(stderr, "fx60 synth: cannot write %s\n", file.c_str());
          return;
        }
      }
    }
  };
  std::vector<std::thread> pool;
  for (uint32_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  if (failed) return 1;
  std::printf("%s: %u fingers x %u impressions, seed %llu, class %s\n", options.folder.c_str(), options.fingers,
              options.impressions, static_cast<unsigned long long>(options.seed),
              options.fingerClass ? std::string(synth::fingerClassName(*options.fingerClass)).c_str() : "mixed");
  return 0;
}

const CommandRegistration kRegistration({"synth", kUsage, runSynth});

}  // namespace
}  // namespace fx60::tool
