// fx60 extract: quality, minutiae and the sealed template of one image, with
// optional pictures of the minutiae and of every pipeline stage.
#include <cstdio>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tools/commands.h"
#include "tools/support/command_line.h"
#include "tools/support/extraction_pictures.h"
#include "tools/support/files.h"
#include "tools/support/image_io.h"
#include "tools/support/json_text.h"

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
  CommandLine line("extract");
  line.text("-o", options.templateOut);
  line.text("--overlay", options.overlay);
  line.text("--stages", options.stages);
  line.flag("--json", options.json);
  line.flag("--fit", options.fit);
  std::vector<std::string> positional;
  if (!line.parse(args, positional)) return false;
  if (positional.size() != 1) return line.fail(positional.empty() ? "no image given" : "one image only");
  options.image = positional[0];
  // Output names are checked before any work, so that nothing is half done.
  std::string error;
  if (!options.templateOut.empty() && !checkTemplateOutputName(options.templateOut, error)) return line.fail(error);
  if (!options.overlay.empty() && !pictureFormatOf(options.overlay, error)) return line.fail(error);
  return true;
}

struct TemplateMinutia {
  int x, y, angle, kind;
};

// Reads the records back from the template; the kind is not stored there and
// comes from the extractor's list, which the template keeps in order.
std::vector<TemplateMinutia> templateMinutiae(const uint8_t* tpl, const extract::MinutiaList& list) {
  std::vector<TemplateMinutia> minutiae;
  for (int i = 0; i < tpl[kTemplateCountByte]; ++i) {
    const MinutiaRecord m = readMinutiaRecord(tpl, i);
    const int kind = i < list.count ? list.entries[i].kind : 0;
    minutiae.push_back({m.x, m.y, m.angle, kind});
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
    std::printf("{\"image\": %s, \"quality\": %d, \"template_quality\": %d, \"usable\": %s, \"count\": %zu, "
                "\"minutiae\": [",
                jsonString(options.image).c_str(), quality, tpl[kTemplateQualityByte], usable ? "true" : "false",
                minutiae.size());
    for (size_t i = 0; i < minutiae.size(); ++i)
      std::printf("%s{\"x\": %d, \"y\": %d, \"angle\": %d, \"kind\": \"%s\"}", i ? ", " : "", minutiae[i].x,
                  minutiae[i].y, minutiae[i].angle, kindName(minutiae[i].kind));
    std::printf("]}\n");
    return;
  }
  std::printf("image: %s\nimage quality: %d\ntemplate quality: %d%s\nminutiae: %zu\n", options.image.c_str(),
              quality, tpl[kTemplateQualityByte], usable ? "" : " (below 20: no usable template)", minutiae.size());
  for (const TemplateMinutia& m : minutiae)
    std::printf("  x %3d  y %3d  angle %3d  %s\n", m.x, m.y, m.angle, kindName(m.kind));
}

int runExtract(const std::vector<std::string>& args) {
  ExtractOptions options;
  if (!parseOptions(args, options)) return kExitUsage;
  std::vector<uint8_t> pixels;
  std::string error;
  if (!readFingerprintImage(options.image, options.fit, pixels, error)) {
    std::fprintf(stderr, "fx60 extract: %s\n", error.c_str());
    return kExitFailed;
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
    return kExitFailed;
  }
  printResult(options, quality, tpl, templateMinutiae(tpl, recorder.minutiae));
  const bool usable = tpl[kTemplateQualityByte] >= kUsableQuality;

  int status = usable ? kExitDone : kExitNo;
  if (!usable) {
    std::fprintf(stderr, "fx60 extract: %s gives no usable template (template quality %d, below %d)%s%s\n",
                 options.image.c_str(), tpl[kTemplateQualityByte], kUsableQuality,
                 options.templateOut.empty() ? "" : "; nothing written to ", options.templateOut.c_str());
  } else if (!options.templateOut.empty() && !writeOutputFile(options.templateOut, tpl, kTemplateSize, error)) {
    std::fprintf(stderr, "fx60 extract: %s\n", error.c_str());
    status = kExitFailed;
  }
  // The pictures show why an extraction went as it did, so they are written either way.
  if (!options.overlay.empty() &&
      !writeImage(options.overlay, drawMinutiaeOverlay(pixels.data(), recorder.minutiae), error)) {
    std::fprintf(stderr, "fx60 extract: %s\n", error.c_str());
    status = kExitFailed;
  }
  if (!options.stages.empty() && !writeStagePictures(recorder, options.stages, error)) {
    std::fprintf(stderr, "fx60 extract: %s\n", error.c_str());
    status = kExitFailed;
  }
  return status;
}

const CommandRegistration kRegistration(
    {"extract", "IMG [-o OUT.tpl] [--overlay PICTURE] [--stages DIR] [--json] [--fit]",
     "the image quality, the minutiae and the sealed 512-byte template of one image",
     R"help(Prints the image quality score (0 to 100), the template quality (the quality
byte the template stores; 20 or more makes a usable template) and every minutia
(x, y, angle in degrees, ending or bifurcation).

arguments:
  IMG                 a fingerprint image: PGM, BMP or PNG, 256 x 360 pixels
options:
  -o OUT.tpl          write the sealed template (512 bytes), as the library hands it
                      out; only when it is usable. A picture name (.png, .pgm, ...)
                      is refused (default: the template is not written)
  --overlay PICTURE   draw the minutiae over the image, at twice its size; the name
                      ends in .png, .pgm or .ppm (default: no picture)
  --stages DIR        write a picture of every extraction stage into DIR, made if
                      missing (default: none)
  --json              print the result as one JSON object: image, quality,
                      template_quality, usable, count, minutiae [{x, y, angle, kind}]
  --fit               accept images of another size: centre-crop or pad with white
                      to 256 x 360 (default: other sizes are refused)
  -h, --help          this text

exit status: 0 a usable template (written with -o); 1 the image could not be read
or an output not written; 2 bad usage; 3 no usable template (template quality
below 20): nothing is written with -o, the pictures are

example: fx60 extract finger.pgm -o finger.tpl --overlay minutiae.png
)help",
     runExtract});

}  // namespace
}  // namespace fx60::tool
