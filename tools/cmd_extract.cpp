// fx60 extract: quality, minutiae and the sealed template of one image, with
// optional pictures of the minutiae and of every pipeline stage.
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "driver/feature_template.h"
#include "extract/extractor.h"
#include "tools/commands.h"
#include "tools/support/extraction_pictures.h"
#include "tools/support/image_io.h"

namespace fx60::tool {
namespace {

constexpr int kUsableQuality = 20;  // the library refuses templates below this

struct ExtractOptions {
  std::string image;
  std::string templateOut;
  std::string overlay;
  std::string stages;
  bool json = false;
  bool fit = false;
};

bool parseOptions(const std::vector<std::string>& args, ExtractOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= args.size()) return false;
      target = args[++i];
      return true;
    };
    if (arg == "-o") {
      if (!value(options.templateOut)) return false;
    } else if (arg == "--overlay") {
      if (!value(options.overlay)) return false;
    } else if (arg == "--stages") {
      if (!value(options.stages)) return false;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--fit") {
      options.fit = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else if (options.image.empty()) {
      options.image = arg;
    } else {
      return false;
    }
  }
  return !options.image.empty();
}

struct TemplateMinutia {
  int x, y, angle, kind;
};

// Reads the records back from the template; the kind is not stored there and
// comes from the extractor's list, which the template keeps in order.
std::vector<TemplateMinutia> templateMinutiae(const uint8_t* tpl, const extract::MinutiaList& list) {
  std::vector<TemplateMinutia> minutiae;
  for (int i = 0; i < tpl[kTemplateCountByte]; ++i) {
    const uint8_t* m = tpl + kTemplateFirstMinutia + 4 * i;
    const int kind = i < list.count ? list.entries[i].kind : 0;
    minutiae.push_back({m[0], (m[3] & 1) << 8 | m[1], ((m[3] >> 1) & 1) << 8 | m[2], kind});
  }
  return minutiae;
}

const char* kindName(int kind) {
  return kind == extract::kRidgeEnding ? "ending" : kind == extract::kBifurcation ? "bifurcation" : "unknown";
}

void printResult(const ExtractOptions& options, int quality, const uint8_t* tpl,
                 const std::vector<TemplateMinutia>& minutiae) {
  const bool usable = tpl[kTemplateQualityByte] >= kUsableQuality;
  if (options.json) {
    std::printf("{\"image\": \"");
    for (char ch : options.image) std::printf(ch == '"' || ch == '\\' ? "\\%c" : "%c", ch);
    std::printf("\", \"quality\": %d, \"template_quality\": %d, \"usable\": %s, \"count\": %zu, \"minutiae\": [",
                quality, tpl[kTemplateQualityByte], usable ? "true" : "false", minutiae.size());
    for (size_t i = 0; i < minutiae.size(); ++i)
      std::printf("%s{\"x\": %d, \"y\": %d, \"angle\": %d, \"kind\": \"%s\"}", i ? ", " : "", minutiae[i].x,
                  minutiae[i].y, minutiae[i].angle, kindName(minutiae[i].kind));
    std::printf("]}\n");
    return;
  }
  std::printf("image: %s\nquality: %d\nminutiae: %zu%s\n", options.image.c_str(), quality, minutiae.size(),
              usable ? "" : " (no usable template)");
  for (const TemplateMinutia& m : minutiae)
    std::printf("  x %3d  y %3d  angle %3d  %s\n", m.x, m.y, m.angle, kindName(m.kind));
}

int runExtract(const std::vector<std::string>& args) {
  ExtractOptions options;
  if (!parseOptions(args, options)) {
    std::fprintf(stderr, "usage: fx60 extract IMG [-o OUT.tpl] [--overlay OUT.png] [--stages DIR] [--json] [--fit]\n");
    return 2;
  }
  std::vector<uint8_t> pixels;
  std::string error;
  if (!readFingerprintImage(options.image, options.fit, pixels, error)) {
    std::fprintf(stderr, "fx60 extract: %s\n", error.c_str());
    return 1;
  }

  std::vector<uint8_t> work = pixels;
  const int quality = extract::computeImageQuality(work.data());

  // As the library delivers it: extraction on a private copy, then the seal.
  work = pixels;
  uint8_t tpl[kTemplateSize];
  ExtractionRecorder recorder;
  extract::extractUnsealedTemplate(work.data(), tpl, &recorder);
  if (SealTemplate(tpl) != 1) {
    std::fprintf(stderr, "fx60 extract: sealing the template failed\n");
    return 1;
  }
  printResult(options, quality, tpl, templateMinutiae(tpl, recorder.minutiae));

  int status = 0;
  if (!options.templateOut.empty()) {
    std::ofstream out(options.templateOut, std::ios::binary);
    if (!out.write(reinterpret_cast<const char*>(tpl), kTemplateSize)) {
      std::fprintf(stderr, "fx60 extract: cannot write %s\n", options.templateOut.c_str());
      status = 1;
    }
  }
  if (!options.overlay.empty() &&
      !writeImage(options.overlay, drawMinutiaeOverlay(pixels.data(), recorder.minutiae), error)) {
    std::fprintf(stderr, "fx60 extract: %s\n", error.c_str());
    status = 1;
  }
  if (!options.stages.empty() && !writeStagePictures(recorder, options.stages, error)) {
    std::fprintf(stderr, "fx60 extract: %s\n", error.c_str());
    status = 1;
  }
  return status;
}

const CommandRegistration kRegistration({"extract",
                                         "IMG [-o OUT.tpl] [--overlay OUT.png] [--stages DIR] [--json] [--fit]   "
                                         "quality, minutiae and sealed template",
                                         runExtract});

}  // namespace
}  // namespace fx60::tool
