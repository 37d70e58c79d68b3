// fx60 synth: a folder of synthetic fingerprints, <finger>_<impression>.pgm, the
// naming fx60 eval reads.
#include <algorithm>
#include <atomic>
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
#include "tools/support/command_line.h"

namespace fx60::tool {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kMaxFingers = 100000;
constexpr uint32_t kMaxImpressions = 100;
constexpr uint32_t kMaxThreads = 256;

struct SynthOptions {
  std::string folder;
  uint32_t fingers = 100;
  uint32_t impressions = 8;
  uint64_t seed = 1;
  std::optional<synth::FingerClass> fingerClass;
  uint32_t threads = 0;  // 0: one per core
};

// Fills `options`; on bad usage prints why and returns false.
bool parseOptions(const std::vector<std::string>& args, SynthOptions& options) {
  CommandLine line("synth");
  std::string fingerClass = "mixed";
  line.number("--fingers", options.fingers, 1u, kMaxFingers);
  line.number("--impressions", options.impressions, 1u, kMaxImpressions);
  line.number("--seed", options.seed, uint64_t{0}, UINT64_MAX);
  line.number("--threads", options.threads, 1u, kMaxThreads);
  line.choice("--class", fingerClass, {"arch", "tented-arch", "left-loop", "right-loop", "whorl", "mixed"});
  std::vector<std::string> positional;
  if (!line.parse(args, positional)) return false;
  if (positional.empty()) return line.fail("no folder given");
  if (positional.size() > 1) return line.fail("one folder only (" + positional[0] + " and " + positional[1] + ")");
  options.folder = positional[0];
  if (fingerClass != "mixed") options.fingerClass = synth::parseFingerClass(fingerClass);
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
  if (!parseOptions(args, options)) return kExitUsage;
  const fs::path folder(options.folder);
  std::error_code error;
  fs::create_directories(folder, error);
  if (!fs::is_directory(folder)) {
    std::fprintf(stderr, "fx60 synth: cannot make the folder %s%s%s\n", options.folder.c_str(),
                 error ? ": " : "", error ? error.message().c_str() : "");
    return kExitFailed;
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
  if (failed) return kExitFailed;
  std::printf("%s: %u fingers x %u impressions, seed %llu, class %s\n", options.folder.c_str(), options.fingers,
              options.impressions, static_cast<unsigned long long>(options.seed),
              options.fingerClass ? std::string(synth::fingerClassName(*options.fingerClass)).c_str() : "mixed");
  return kExitDone;
}

const CommandRegistration kRegistration(
    {"synth", "DIR [--fingers N] [--impressions N] [--seed N] [--class NAME] [--threads N]",
     "writes synthetic fingerprints into a folder, named as fx60 eval reads them",
     R"help(Writes synthetic fingerprints, 256 x 360 grey at about 500 dpi, into the folder
DIR (made if missing) as <finger>_<impression>.pgm, the naming fx60 eval reads.
Each finger gets a master ridge pattern; each impression shows it turned, moved,
stretched, pressed harder or lighter, with noise and a partial contact area.
The same options give the same bytes on every machine.

options:
  --fingers N       number of fingers, 1..100000 (default 100)
  --impressions N   impressions per finger, 1..100 (default 8)
  --seed N          seed of the set, 0..18446744073709551615 (default 1); finger K
                    of a seed is the same finger whatever --fingers says
  --class NAME      arch, tented-arch, left-loop, right-loop, whorl, or mixed:
                    each finger's class drawn with the shares of real fingers
                    (default mixed)
  --threads N       fingers made at once, 1..256 (default: one per core); the
                    images do not depend on it
  -h, --help        this text

exit status: 0 written; 1 the folder or a file could not be written; 2 bad usage

example: fx60 synth /tmp/synthetic --fingers 100 --impressions 8 && fx60 eval /tmp/synthetic
)help",
     runSynth});

}  // namespace
}  // namespace fx60::tool
