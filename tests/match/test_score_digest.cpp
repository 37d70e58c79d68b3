// Scores are an interface: thresholds are set on them and stored templates are
// compared against live ones. This test pins every bit of the published score and
// of the raw similarities for a large spread of genuine and impostor pairs of the
// shared image sets, one digest per set, recorded in tests/data/match_score_digest.txt.
// A faster matcher must leave these digests unchanged. The plain call, which may
// leave a raw similarity unfinished where it cannot change the published score, must
// publish exactly the score of the detailed call.
//
// FX60_SCORE_DUMP=<file> writes one line per pair (set, images, score, x1, x2 as
// hexadecimal floats) so that two builds can be compared pair by pair.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "extract/extractor.h"
#include "match/matcher.h"
#include "template/feature_template.h"
#include "tests/support/test_data.h"

namespace {

namespace fs = std::filesystem;
using Template = std::array<uint8_t, fx60::kTemplateSize>;

// Images per set taken into account: ten fingers of the larger set.
constexpr size_t kImagesPerSet = 80;

std::map<std::string, std::string> recordedDigests() {
  std::map<std::string, std::string> digests;
  std::ifstream in(fs::path(FX60_SOURCE_DIR) / "tests" / "data" / "match_score_digest.txt");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string name, digest;
    if (fields >> name >> digest) digests[name] = digest;
  }
  return digests;
}

class Fnv1a {
 public:
  void add(const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) hash_ = (hash_ ^ bytes[i]) * 0x100000001b3ull;
  }
  template <typename T>
  void add(const T& value) {
    add(&value, sizeof value);
  }
  std::string hex() const {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash_));
    return text;
  }

 private:
  uint64_t hash_ = 0xcbf29ce484222325ull;
};

std::string fingerOf(const fs::path& file) {
  const std::string stem = file.stem().string();
  return stem.substr(0, stem.rfind('_'));
}

// Every genuine pair and every third impostor pair, in both orders for a few, so
// that the order of the templates is covered too.
bool pairIsChosen(size_t i, size_t j, bool genuine) { return genuine || (i + 2 * j) % 3 == 0; }

TEST(MatchScoreDigest, EverySetScoresExactlyAsRecorded) {
  FX60_REQUIRE_SHARED_DATA();
  const auto recorded = recordedDigests();
  std::FILE* dump = nullptr;
  if (const char* path = std::getenv("FX60_SCORE_DUMP")) dump = std::fopen(path, "w");

  for (const fs::path& set : fx60::testing::fingerprintSets()) {
    const std::string name = set.filename().string();
    std::vector<fs::path> files = fx60::testing::imagesOfSet(set);
    if (files.size() > kImagesPerSet) files.resize(kImagesPerSet);
    std::vector<Template> templates(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
      std::vector<uint8_t> image = fx60::testing::readPgm(files[i]);
      ASSERT_FALSE(image.empty()) << files[i];
      fx60::extract::extractUnsealedTemplate(image.data(), templates[i].data());
    }

    Fnv1a digest;
    size_t pairs = 0;
    size_t plainDiffers = 0;
    for (size_t i = 0; i < files.size(); ++i)
      for (size_t j = 0; j < files.size(); ++j) {
        if (i == j) continue;
        const bool genuine = fingerOf(files[i]) == fingerOf(files[j]);
        if (!pairIsChosen(std::min(i, j), std::max(i, j), genuine)) continue;
        if (i > j && (i + j) % 7 != 0) continue;  // the reversed order for one pair in seven
        float score = -1;
        fx60::match::MatchDetails details;
        const int status = fx60::match::matchTemplates(templates[i].data(), templates[j].data(), &score, &details);
        digest.add(status);
        digest.add(score);
        digest.add(details.firstSimilarity);
        digest.add(details.secondSimilarity);
        digest.add(details.halfTurnRetried);
        ++pairs;
        float plainScore = -1;
        const int plainStatus = fx60::match::matchTemplates(templates[i].data(), templates[j].data(), &plainScore);
        if (plainStatus != status || std::memcmp(&plainScore, &score, sizeof score) != 0) {
          if (plainDiffers++ < 5)
            ADD_FAILURE() << name << " " << files[i].filename() << " / " << files[j].filename() << ": plain score "
                          << plainScore << " (status " << plainStatus << "), detailed " << score << " (status "
                          << status << ")";
        }
        if (dump)
          std::fprintf(dump, "%s %zu %zu %d %a %a %a %d\n", name.c_str(), i, j, status, score,
                       details.firstSimilarity, details.secondSimilarity, details.halfTurnRetried ? 1 : 0);
      }
    EXPECT_EQ(plainDiffers, 0u) << name << ": the plain call published other scores";
    const auto expected = recorded.find(name);
    if (expected == recorded.end()) {
      ADD_FAILURE() << name << ": no recorded digest; measured " << digest.hex() << " over " << pairs << " pairs";
      continue;
    }
    EXPECT_EQ(digest.hex(), expected->second) << name << ": the scores of " << pairs << " pairs changed";
  }
  if (dump) std::fclose(dump);
}

}  // namespace
