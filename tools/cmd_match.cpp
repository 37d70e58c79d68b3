// fx60 match: compares two templates or images and shows the decision at every
// security level; --trace shows what each matching pass did, --json gives the
// result to programs.
#include <cstdio>
#include <string>
#include <vector>

#include "driver/library_api.h"
#include "extract/extractor.h"
#include "match/match_pass.h"
#include "match/matcher.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tools/commands.h"
#include "tools/support/command_line.h"
#include "tools/support/files.h"
#include "tools/support/image_io.h"
#include "tools/support/json_text.h"

namespace fx60::tool {
namespace {

using Template = std::vector<uint8_t>;

struct MatchOptions {
  std::string first;
  std::string second;
  int level = api::kDefaultSecurityLevel;
  bool trace = false;
  bool json = false;
  bool fit = false;
};

bool parseOptions(const std::vector<std::string>& args, MatchOptions& options) {
  CommandLine line("match");
  line.number("--level", options.level, 1, 5);
  line.flag("--trace", options.trace);
  line.flag("--json", options.json);
  line.flag("--fit", options.fit);
  std::vector<std::string> positional;
  if (!line.parse(args, positional)) return false;
  if (positional.size() != 2)
    return line.fail(positional.size() < 2 ? "two templates or images are needed" : "two templates or images only");
  options.first = positional[0];
  options.second = positional[1];
  return true;
}

struct MatchInput {
  std::string path;
  Template tpl;
  bool fromImage = false;
};

// A 512-byte file is a template; anything else is read as an image and extracted.
bool loadInput(const std::string& path, bool fit, MatchInput& input, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!readInputFile(path, bytes, error)) return false;
  input.path = path;
  if (bytes.size() == static_cast<size_t>(kTemplateSize)) {
    input.tpl = std::move(bytes);
    return true;
  }
  std::vector<uint8_t> image;
  if (!decodeFingerprintImage(bytes, path, fit, image, error)) return false;
  input.tpl.assign(kTemplateSize, 0);
  input.fromImage = true;
  extract::extractUnsealedTemplate(image.data(), input.tpl.data());
  if (SealTemplate(input.tpl.data()) != 1) {
    error = path + ": cannot seal its template";
    return false;
  }
  return true;
}

void printInput(const MatchInput& input) {
  std::printf("%s: %s, template quality %d, %d minutiae\n", input.path.c_str(),
              input.fromImage ? "image" : "template", input.tpl[kTemplateQualityByte], input.tpl[kTemplateCountByte]);
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

std::string jsonInput(const MatchInput& input) {
  return "{\"file\": " + jsonString(input.path) + ", \"kind\": \"" + (input.fromImage ? "image" : "template") +
         "\", \"template_quality\": " + std::to_string(input.tpl[kTemplateQualityByte]) +
         ", \"minutiae\": " + std::to_string(input.tpl[kTemplateCountByte]) + "}";
}

void printJson(const MatchInput& first, const MatchInput& second, int status, float score,
               const match::MatchDetails& details, int level) {
  std::printf("{\"first\": %s,\n \"second\": %s,\n", jsonInput(first).c_str(), jsonInput(second).c_str());
  std::printf(" \"status\": %d, \"score\": %s, \"x1\": %s, \"x2\": %s, \"half_turn_retried\": %s,\n", status,
              jsonScore(score).c_str(), jsonScore(details.firstSimilarity).c_str(),
              details.halfTurnRetried ? jsonScore(details.secondSimilarity).c_str() : "null",
              details.halfTurnRetried ? "true" : "false");
  std::printf(" \"level\": %d, \"match\": %s,\n \"levels\": [", level,
              api::matchDecision(status, score, level) == 0 ? "true" : "false");
  for (int each = 1; each <= 5; ++each)
    std::printf("%s{\"level\": %d, \"threshold\": %d, \"match\": %s}", each > 1 ? ", " : "", each,
                api::SecurityLevelThresholds[each], api::matchDecision(status, score, each) == 0 ? "true" : "false");
  std::printf("]}\n");
}

int runMatch(const std::vector<std::string>& args) {
  MatchOptions options;
  if (!parseOptions(args, options)) return kExitUsage;
  MatchInput first;
  MatchInput second;
  std::string error;
  if (!loadInput(options.first, options.fit, first, error) || !loadInput(options.second, options.fit, second, error)) {
    std::fprintf(stderr, "fx60 match: %s\n", error.c_str());
    return kExitFailed;
  }
  if (!options.json) {
    printInput(first);
    printInput(second);
  }

  // The second template must carry this library's seal; it is checked on a copy.
  Template unsealed = second.tpl;
  if (VerifyTemplateSeal(unsealed.data()) != 1) {
    std::fprintf(stderr, "fx60 match: the seal of %s is not valid (status -10)\n", options.second.c_str());
    return kExitFailed;
  }

  match::SimilarityTrace firstTrace;
  match::SimilarityTrace secondTrace;
  match::MatchDetails details;
  if (options.trace) {
    details.firstTrace = &firstTrace;
    details.secondTrace = &secondTrace;
  }
  float score = 0;
  const int status = match::matchTemplates(first.tpl.data(), unsealed.data(), &score, &details);
  if (options.json) {
    printJson(first, second, status, score, details, options.level);
    if (status != 1) return kExitFailed;
    return api::matchDecision(status, score, options.level) == 0 ? kExitDone : kExitNo;
  }
  if (options.trace) {
    std::printf("trace:\n");
    printTrace("x1 (as given)", firstTrace, details.firstSimilarity);
    if (details.halfTurnRetried) printTrace("x2 (second template turned by half a turn)", secondTrace,
                                            details.secondSimilarity);
  }
  if (status != 1) {
    std::printf("status %d: a template is unusable, score 0\n", status);
    return kExitFailed;
  }
  std::printf("score %.4f (x100 = %d)\n", score, static_cast<int>(score * 100));
  for (int level = 1; level <= 5; ++level) {
    const bool matched = api::matchDecision(status, score, level) == 0;
    std::printf("  level %d (threshold %2d): %s%s\n", level, api::SecurityLevelThresholds[level],
                matched ? "match" : "no match", level == options.level ? "  <- requested" : "");
  }
  return api::matchDecision(status, score, options.level) == 0 ? kExitDone : kExitNo;
}

const CommandRegistration registration{
    {"match", "A B [--level N] [--json] [--trace] [--fit]",
     "compares two templates or images: the score and the decision at every security level",
     R"help(A and B are 512-byte template files (as fx60 extract -o or fx60 enroll -o write
them) or fingerprint images (PGM, BMP or PNG, 256 x 360), which are extracted first.
B is the second template of the comparison and must carry this library's seal, as
with the library's own comparison; A may come from any writer.

The score is a similarity from 0 to 1. Level N matches when the score x 100,
truncated, reaches its threshold: level 1: 14, 2: 23, 3: 34, 4: 48, 5: 61.

options:
  --level N   the security level that decides the exit status, 1 to 5 (default 3)
  --json      print the result as one JSON object (below) instead of text
  --trace     also print what each matching pass did (text only)
  --fit       accept images of another size: centre-crop or pad with white to
              256 x 360 (default: other sizes are refused)
  -h, --help  this text

JSON: {"first": INPUT, "second": INPUT, "status": 1 (or -1: a template is
unusable), "score": S, "x1": S, "x2": S or null, "half_turn_retried": BOOL,
"level": N, "match": BOOL, "levels": [{"level": 1..5, "threshold": T, "match":
BOOL}]}, where INPUT is {"file", "kind": "template" or "image",
"template_quality", "minutiae"}. Scores carry every digit of the single-precision
value. x1 is the similarity of the templates as given, x2 the one with B turned by
half a turn, tried only when x1 is low; the score is made from them.

exit status: 0 a match at the requested level; 1 a file could not be read, the
seal of B is not valid, or a template is unusable; 2 bad usage; 3 no match at the
requested level

example: fx60 match enrolled.tpl live.pgm --level 4
)help",
     runMatch}};

}  // namespace
}  // namespace fx60::tool
