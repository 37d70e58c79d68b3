// fx60 match: compares two templates or images and shows the decision at every
// security level; --trace shows what each matching pass did.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "driver/feature_template.h"
#include "driver/library_api.h"
#include "extract/extractor.h"
#include "match/match_pass.h"
#include "match/matcher.h"
#include "tools/commands.h"
#include "tools/support/image_io.h"

namespace fx60::tool {
namespace {

using Template = std::vector<uint8_t>;

struct MatchOptions {
  std::string first;
  std::string second;
  int level = api::kDefaultSecurityLevel;
  bool trace = false;
};

bool parseOptions(const std::vector<std::string>& args, MatchOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--level" && i + 1 < args.size()) {
      options.level = std::atoi(args[++i].c_str());
    } else if (arg == "--trace") {
      options.trace = true;
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else if (options.first.empty()) {
      options.first = arg;
    } else if (options.second.empty()) {
      options.second = arg;
    } else {
      return false;
    }
  }
  return !options.second.empty();
}

// A 512-byte file is a template; anything else is read as an image and extracted.
bool loadTemplate(const std::string& path, Template& tpl, std::string& error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot open " + path;
    return false;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (bytes.size() == static_cast<size_t>(kTemplateSize)) {
    tpl = bytes;
    return true;
  }
  std::vector<uint8_t> image;
  if (!readFingerprintImage(path, true, image, error)) return false;
  tpl.assign(kTemplateSize, 0);
  extract::extractUnsealedTemplate(image.data(), tpl.data());
  if (SealTemplate(tpl.data()) != 1) {
    error = "cannot seal the template of " + path;
    return false;
  }
  std::printf("%s: image, quality %d, %d minutiae\n", path.c_str(), tpl[kTemplateQualityByte],
              tpl[kTemplateCountByte]);
  return true;
}

void printPass(const match::PassTrace& pass) {
  std::printf("    pass %d: candidates", pass.pass);
  if (pass.candidates.count == 0) std::printf(" none");
  for (int k = 0; k < pass.candidates.count; ++k)
    std::printf(" %d(%u)", pass.candidates.rotation[k], pass.candidates.strength[k]);
  std::printf("\n");
  for (int k = 0; k < pass.triedCount; ++k) {
    const auto& tried = pass.tried[k];
    if (tried.aligned)
      std::printf("      rotation %3d%s: alignment %d, correction %+d, fine score %u\n", tried.rotation,
                  tried.retry ? " (retry)" : "", tried.alignmentScore, tried.correction, tried.result);
    else
      std::printf("      rotation %3d%s: no usable alignment, singular-point score %u\n", tried.rotation,
                  tried.retry ? " (retry)" : "", tried.result);
  }
  std::printf("      result %u (%.4f)\n", pass.result, pass.result / 65536.0);
}

void printTrace(const char* label, const match::SimilarityTrace& trace, float similarity) {
  std::printf("  %s:\n", label);
  for (int p = 0; p < trace.passCount; ++p) printPass(trace.passes[p]);
  std::printf("    similarity %.6f\n", similarity);
}

int runMatch(const std::vector<std::string>& args) {
  MatchOptions options;
  if (!parseOptions(args, options)) {
    std::fprintf(stderr, "usage: fx60 match A B [--level N] [--trace]\n");
    return 2;
  }
  Template first;
  Template second;
  std::string error;
  if (!loadTemplate(options.first, first, error) || !loadTemplate(options.second, second, error)) {
    std::fprintf(stderr, "fx60 match: %s\n", error.c_str());
    return 1;
  }

  // The second template must carry this library's seal; it is checked on a copy.
  Template unsealed = second;
  if (VerifyTemplateSeal(unsealed.data()) != 1) {
    std::fprintf(stderr, "fx60 match: the seal of %s is not valid (status -10)\n", options.second.c_str());
    return 1;
  }

  match::SimilarityTrace firstTrace;
  match::SimilarityTrace secondTrace;
  match::MatchDetails details;
  if (options.trace) {
    details.firstTrace = &firstTrace;
    details.secondTrace = &secondTrace;
  }
  float score = 0;
  const int status = match::matchTemplates(first.data(), unsealed.data(), &score, &details);
  if (options.trace) {
    std::printf("trace:\n");
    printTrace("x1 (as given)", firstTrace, details.firstSimilarity);
    if (details.halfTurnRetried) printTrace("x2 (second template turned by half a turn)", secondTrace,
                                            details.secondSimilarity);
  }
  if (status != 1) {
    std::printf("status %d: a template is unusable, score 0\n", status);
    return 1;
  }
  std::printf("score %.4f (x100 = %d)\n", score, static_cast<int>(score * 100));
  const int chosen = api::clampSecurityLevel(options.level);
  for (int level = 1; level <= 5; ++level) {
    const bool matched = api::matchDecision(status, score, level) == 0;
    std::printf("  level %d (threshold %2d): %s%s\n", level, api::SecurityLevelThresholds[level],
                matched ? "match" : "no match", level == chosen ? "  <- requested" : "");
  }
  return api::matchDecision(status, score, chosen) == 0 ? 0 : 3;
}

const CommandRegistration registration{
    {"match", "A B [--level N] [--trace]   compare two templates or images", runMatch}};

}  // namespace
}  // namespace fx60::tool
