// fx60 eval: accuracy and speed of extraction and matching on folders of
// <finger>_<impression> images, with the verification-competition protocol.
// Files that are not such images are skipped and listed; images that cannot be
// read are errors.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/library_api.h"
#include "extract/extractor.h"
#include "match/matcher.h"
#include "template/feature_template.h"
#include "template/seal.h"
#include "tools/commands.h"
#include "tools/support/command_line.h"
#include "tools/support/det_plot.h"
#include "tools/support/files.h"
#include "tools/support/image_io.h"
#include "tools/support/json_text.h"

namespace fx60::tool {
namespace {

namespace fs = std::filesystem;

// Processor time of the calling thread in microseconds: unlike wall time it does not
// count the time other processes hold the core.
double threadMicros() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec * 1e6 + now.tv_nsec / 1e3;
}

constexpr int kUsableQuality = 20;
constexpr int kMaxThreads = 256;

struct EvalOptions {
  std::vector<std::string> folders;
  bool allImpostors = false;
  int threads = 0;  // 0: one per core
  bool json = false;
  bool fit = false;
  std::string det;
};

bool parseOptions(const std::vector<std::string>& args, EvalOptions& options) {
  CommandLine line("eval");
  std::string impostors = "fvc";
  line.choice("--impostors", impostors, {"fvc", "all"});
  line.number("--threads", options.threads, 1, kMaxThreads);
  line.flag("--json", options.json);
  line.flag("--fit", options.fit);
  line.text("--det", options.det);
  if (!line.parse(args, options.folders)) return false;
  options.allImpostors = impostors == "all";
  if (options.folders.empty()) return line.fail("no folder given");
  if (!options.det.empty() && lowerExtension(options.det) != "svg")
    return line.fail(options.det + ": the DET plot is SVG; the name must end in .svg");
  return true;
}

struct Sample {
  fs::path file;
  std::string finger;
  std::string readError;        // set when the image could not be read
  std::vector<uint8_t> sealed;  // sealed template, as the library hands it out
  std::vector<uint8_t> unsealed;
  bool enrolled = false;
  double extractMicros = 0;
};

struct Comparison {
  int first;
  int second;
  bool genuine;
  float score = 0;
  double micros = 0;
  match::MatchDetails details;  // with --json only
};

// A file of the folder that is not part of the evaluation, and why.
struct SkippedFile {
  std::string name;
  std::string reason;
};

// Runs work(i) for i in [0, count) on `threads` threads; progress on a terminal.
template <typename Work>
void parallelFor(int count, int threads, const char* what, Work work) {
  std::atomic<int> next{0};
  std::atomic<int> done{0};
  const bool terminal = isatty(fileno(stderr)) != 0;
  std::mutex progressLock;
  auto worker = [&] {
    for (int i = next++; i < count; i = next++) {
      work(i);
      const int finished = ++done;
      if (terminal && (finished % 16 == 0 || finished == count)) {
        std::lock_guard<std::mutex> lock(progressLock);
        std::fprintf(stderr, "\r%s %d/%d ", what, finished, count);
      }
    }
  };
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& thread : pool) thread.join();
  if (terminal) std::fprintf(stderr, "\r%*s\r", 40, "");
}

bool isImageFile(const fs::path& path) {
  const std::string extension = lowerExtension(path.string());
  return extension == "pgm" || extension == "bmp" || extension == "png";
}

// The <finger>_<impression> images of a folder in name order; every other entry
// goes to `skipped` with the reason.
bool listSamples(const std::string& folder, std::vector<Sample>& samples, std::vector<SkippedFile>& skipped,
                 std::string& error) {
  std::error_code listError;
  fs::directory_iterator entries(folder, listError);
  for (; !listError && entries != fs::directory_iterator(); entries.increment(listError)) {
    const fs::directory_entry& entry = *entries;
    const std::string name = entry.path().filename().string();
    std::error_code typeError;
    if (entry.is_directory(typeError)) {
      skipped.push_back({name, "a folder (fx60 eval does not look into subfolders; name them instead)"});
      continue;
    }
    if (!entry.is_regular_file(typeError)) {
      skipped.push_back({name, "not a regular file"});
      continue;
    }
    if (!isImageFile(entry.path())) {
      skipped.push_back({name, "not an image file (.pgm, .bmp or .png)"});
      continue;
    }
    const std::string stem = entry.path().stem().string();
    const size_t underscore = stem.rfind('_');
    if (underscore == std::string::npos || underscore == 0 || underscore + 1 == stem.size()) {
      skipped.push_back({name, "the name is not <finger>_<impression>"});
      continue;
    }
    Sample sample;
    sample.file = entry.path();
    sample.finger = stem.substr(0, underscore);
    samples.push_back(std::move(sample));
  }
  if (listError) {
    error = folder + ": cannot list: " + listError.message();
    return false;
  }
  std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.file < b.file; });
  std::sort(skipped.begin(), skipped.end(), [](const SkippedFile& a, const SkippedFile& b) { return a.name < b.name; });
  return true;
}

void extractSample(Sample& sample, bool fit) {
  std::vector<uint8_t> image;
  if (!readFingerprintImage(sample.file.string(), fit, image, sample.readError)) return;
  sample.sealed.assign(kTemplateSize, 0);
  const double start = threadMicros();
  extract::extractUnsealedTemplate(image.data(), sample.sealed.data());
  const int quality = sample.sealed[kTemplateQualityByte];
  SealTemplate(sample.sealed.data());
  sample.extractMicros = threadMicros() - start;
  sample.enrolled = quality >= kUsableQuality;
  sample.unsealed = sample.sealed;
  VerifyTemplateSeal(sample.unsealed.data());
}

// Genuine: every pair of impressions of one finger. Impostor: first impressions of
// different fingers (protocol), or every pair of different fingers (--impostors all).
// Images that could not be read take no part.
std::vector<Comparison> plannedComparisons(const std::vector<Sample>& samples, bool allImpostors) {
  std::vector<size_t> readable;
  for (size_t i = 0; i < samples.size(); ++i)
    if (samples[i].readError.empty()) readable.push_back(i);
  std::vector<Comparison> plan;
  auto isFirstImpression = [&](size_t k) { return k == 0 || samples[readable[k - 1]].finger != samples[readable[k]].finger; };
  for (size_t a = 0; a < readable.size(); ++a)
    for (size_t b = a + 1; b < readable.size(); ++b) {
      const bool genuine = samples[readable[a]].finger == samples[readable[b]].finger;
      if (!genuine && !allImpostors && !(isFirstImpression(a) && isFirstImpression(b))) continue;
      plan.push_back({static_cast<int>(readable[a]), static_cast<int>(readable[b]), genuine, 0, 0, {}});
    }
  return plan;
}

struct ErrorRates {
  double eer = 0;
  double fmr100 = 0;
  double fmr1000 = 0;
  double zeroFmr = 0;
};

// Fractions of impostor scores at or above t, and of genuine scores below t, for
// every distinct threshold; both score lists sorted ascending.
struct RatePoint {
  float threshold;
  double fmr;
  double fnmr;
};

std::vector<RatePoint> ratePoints(const std::vector<float>& genuine, const std::vector<float>& impostor) {
  std::vector<float> thresholds(genuine);
  thresholds.insert(thresholds.end(), impostor.begin(), impostor.end());
  thresholds.push_back(2.0f);  // above every score: nothing accepted
  std::sort(thresholds.begin(), thresholds.end());
  thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
  std::vector<RatePoint> points;
  for (float t : thresholds) {
    const double accepted = impostor.end() - std::lower_bound(impostor.begin(), impostor.end(), t);
    const double rejected = std::lower_bound(genuine.begin(), genuine.end(), t) - genuine.begin();
    points.push_back({t, impostor.empty() ? 0 : accepted / impostor.size(),
                      genuine.empty() ? 0 : rejected / genuine.size()});
  }
  return points;
}

ErrorRates errorRates(const std::vector<RatePoint>& points) {
  ErrorRates rates;
  double closest = 2;
  rates.fmr100 = rates.fmr1000 = rates.zeroFmr = 1;
  for (const RatePoint& p : points) {
    if (std::abs(p.fmr - p.fnmr) < closest) {
      closest = std::abs(p.fmr - p.fnmr);
      rates.eer = (p.fmr + p.fnmr) / 2;
    }
    if (p.fmr <= 0.01) rates.fmr100 = std::min(rates.fmr100, p.fnmr);
    if (p.fmr <= 0.001) rates.fmr1000 = std::min(rates.fmr1000, p.fnmr);
    if (p.fmr == 0) rates.zeroFmr = std::min(rates.zeroFmr, p.fnmr);
  }
  return rates;
}

double mean(const std::vector<double>& v) {
  double sum = 0;
  for (double x : v) sum += x;
  return v.empty() ? 0 : sum / v.size();
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

struct LevelOutcome {
  int threshold;
  double fmr;
  double fnmr;
};

struct SetResult {
  std::string name;
  std::string folder;
  std::vector<Sample> samples;
  std::vector<SkippedFile> skipped;
  int images = 0;  // readable images
  int fingers = 0;
  int unreadable = 0;
  int failedToEnrol = 0;
  std::vector<Comparison> comparisons;
  std::vector<float> genuine;
  std::vector<float> impostor;
  bool rated = false;  // both genuine and impostor comparisons: the rates mean something
  ErrorRates rates;
  std::vector<LevelOutcome> levels;
  double extractMean = 0, extractMedian = 0, compareMean = 0, compareMedian = 0;
  std::vector<double> genuineMicros;  // comparison thread times
  std::vector<double> impostorMicros;
  std::vector<RatePoint> points;
};

std::string setName(const std::string& folder) {
  std::string name = fs::path(folder).filename().string();
  if (name.empty()) name = fs::path(folder).parent_path().filename().string();
  return name.empty() ? folder : name;
}

// Everything but the comparisons' work: which images there are, their templates.
bool prepareFolder(const std::string& folder, const EvalOptions& options, int threads, SetResult& result,
                   std::string& error) {
  result.name = setName(folder);
  result.folder = folder;
  if (!fs::is_directory(folder)) {
    error = folder + ": not a folder";
    return false;
  }
  if (!listSamples(folder, result.samples, result.skipped, error)) return false;
  std::vector<Sample>& samples = result.samples;
  parallelFor(static_cast<int>(samples.size()), threads, "extracting",
              [&](int i) { extractSample(samples[i], options.fit); });
  std::vector<std::string> fingers;
  for (const Sample& s : samples) {
    if (!s.readError.empty()) {
      ++result.unreadable;
      continue;
    }
    ++result.images;
    if (!s.enrolled) ++result.failedToEnrol;
    fingers.push_back(s.finger);
  }
  std::sort(fingers.begin(), fingers.end());
  result.fingers = static_cast<int>(std::unique(fingers.begin(), fingers.end()) - fingers.begin());
  return true;
}

void compareAll(SetResult& result, const EvalOptions& options, int threads) {
  const std::vector<Sample>& samples = result.samples;
  result.comparisons = plannedComparisons(samples, options.allImpostors);
  std::vector<Comparison>& plan = result.comparisons;
  parallelFor(static_cast<int>(plan.size()), threads, "comparing", [&](int k) {
    Comparison& c = plan[k];
    const double start = threadMicros();
    float score = 0;
    match::matchTemplates(samples[c.first].sealed.data(), samples[c.second].unsealed.data(), &score);
    c.micros = threadMicros() - start;
    c.score = score;
  });
  // The similarities x1 and x2 need the whole comparison, which a plain one may cut
  // short; they are taken apart so that the times above stay those of plain ones.
  if (options.json)
    parallelFor(static_cast<int>(plan.size()), threads, "similarities", [&](int k) {
      Comparison& c = plan[k];
      float score = 0;
      match::matchTemplates(samples[c.first].sealed.data(), samples[c.second].unsealed.data(), &score, &c.details);
    });
}

void summarise(SetResult& result) {
  std::vector<double> extractTimes;
  for (const Sample& s : result.samples)
    if (s.readError.empty()) extractTimes.push_back(s.extractMicros);
  std::vector<double> compareTimes;
  for (const Comparison& c : result.comparisons) {
    (c.genuine ? result.genuine : result.impostor).push_back(c.score);
    (c.genuine ? result.genuineMicros : result.impostorMicros).push_back(c.micros);
    compareTimes.push_back(c.micros);
  }
  std::sort(result.genuine.begin(), result.genuine.end());
  std::sort(result.impostor.begin(), result.impostor.end());
  result.rated = !result.genuine.empty() && !result.impostor.empty();
  result.points = ratePoints(result.genuine, result.impostor);
  result.rates = errorRates(result.points);
  for (int level = 1; level <= 5; ++level) {
    const int threshold = api::SecurityLevelThresholds[level];
    auto passes = [&](float s) { return api::matchDecision(1, s, level) == 0; };
    const double falseMatches = std::count_if(result.impostor.begin(), result.impostor.end(), passes);
    const double trueMatches = std::count_if(result.genuine.begin(), result.genuine.end(), passes);
    result.levels.push_back({threshold, result.impostor.empty() ? 0 : falseMatches / result.impostor.size(),
                             result.genuine.empty() ? 0 : 1 - trueMatches / result.genuine.size()});
  }
  result.extractMean = mean(extractTimes);
  result.extractMedian = median(extractTimes);
  result.compareMean = mean(compareTimes);
  result.compareMedian = median(compareTimes);
}

// What is missing for error rates, or empty when nothing is.
std::string missingPairs(const SetResult& r) {
  if (r.images == 0) return r.unreadable > 0 ? "no readable images" : "no <finger>_<impression> images";
  if (r.genuine.empty() && r.impostor.empty()) return "no pairs to compare";
  if (r.genuine.empty()) return "no genuine pairs (no finger has two readable impressions)";
  if (r.impostor.empty()) return "no impostor pairs (every readable image is of one finger)";
  return {};
}

// What was found, skipped and unreadable, on standard error (the output may be JSON).
void reportFindings(const SetResult& r) {
  for (const SkippedFile& file : r.skipped)
    std::fprintf(stderr, "fx60 eval: %s: skipped %s: %s\n", r.folder.c_str(), file.name.c_str(), file.reason.c_str());
  for (const Sample& s : r.samples)
    if (!s.readError.empty()) std::fprintf(stderr, "fx60 eval: error: %s\n", s.readError.c_str());
  if (const std::string missing = missingPairs(r); !missing.empty())
    std::fprintf(stderr, "fx60 eval: %s: %s: no error rates\n", r.folder.c_str(), missing.c_str());
}

void printText(const SetResult& r) {
  std::printf("%s: %d images of %d fingers (%zu files skipped, %d unreadable), %d failed to enrol, %zu genuine, "
              "%zu impostor comparisons\n",
              r.name.c_str(), r.images, r.fingers, r.skipped.size(), r.unreadable, r.failedToEnrol, r.genuine.size(),
              r.impostor.size());
  if (!r.rated) return;
  std::printf("  EER %.2f %%  FMR100 %.2f %%  FMR1000 %.2f %%  ZeroFMR %.2f %%\n", 100 * r.rates.eer,
              100 * r.rates.fmr100, 100 * r.rates.fmr1000, 100 * r.rates.zeroFmr);
  for (size_t k = 0; k < r.levels.size(); ++k)
    std::printf("  level %zu (score %.2f): FMR %.2f %%  FNMR %.2f %%\n", k + 1, r.levels[k].threshold / 100.0,
                100 * r.levels[k].fmr, 100 * r.levels[k].fnmr);
  std::printf("  extraction mean %.0f us, median %.0f us; comparison mean %.1f us (genuine %.1f, impostor %.1f), "
              "median %.1f us (thread time)\n",
              r.extractMean, r.extractMedian, r.compareMean, mean(r.genuineMicros), mean(r.impostorMicros),
              r.compareMedian);
}

// Comparison times over every set together, the figure a speed target is set on.
void printOverallTimes(const std::vector<SetResult>& results) {
  std::vector<double> all, genuine, impostor;
  for (const SetResult& r : results) {
    genuine.insert(genuine.end(), r.genuineMicros.begin(), r.genuineMicros.end());
    impostor.insert(impostor.end(), r.impostorMicros.begin(), r.impostorMicros.end());
  }
  all = genuine;
  all.insert(all.end(), impostor.begin(), impostor.end());
  std::printf("all sets: %zu genuine, %zu impostor comparisons; comparison mean %.1f us (genuine %.1f, impostor %.1f), "
              "median %.1f us (thread time)\n",
              genuine.size(), impostor.size(), mean(all), mean(genuine), mean(impostor), median(all));
}

std::string jsonRate(const SetResult& r, double rate) { return r.rated ? jsonFixed(rate, 6) : "null"; }

std::string jsonComparison(const SetResult& r, const Comparison& c) {
  std::string text = "{\"first\": " + jsonString(r.samples[c.first].file.filename().string()) +
                     ", \"second\": " + jsonString(r.samples[c.second].file.filename().string()) +
                     ", \"genuine\": " + (c.genuine ? "true" : "false") + ", \"score\": " + jsonScore(c.score) +
                     ", \"x1\": " + jsonScore(c.details.firstSimilarity) +
                     ", \"x2\": " + (c.details.halfTurnRetried ? jsonScore(c.details.secondSimilarity) : "null") +
                     ", \"match\": [";
  for (int level = 1; level <= 5; ++level)
    text += std::string(level > 1 ? ", " : "") + (api::matchDecision(1, c.score, level) == 0 ? "true" : "false");
  return text + "]}";
}

void printJson(const std::vector<SetResult>& results) {
  std::printf("{\"sets\": [");
  for (size_t i = 0; i < results.size(); ++i) {
    const SetResult& r = results[i];
    std::printf("%s\n  {\"name\": %s, \"folder\": %s, \"images\": %d, \"fingers\": %d, \"unreadable\": [", i ? "," : "",
                jsonString(r.name).c_str(), jsonString(r.folder).c_str(), r.images, r.fingers);
    bool first = true;
    for (const Sample& s : r.samples)
      if (!s.readError.empty()) {
        std::printf("%s{\"file\": %s, \"reason\": %s}", first ? "" : ", ",
                    jsonString(s.file.filename().string()).c_str(), jsonString(s.readError).c_str());
        first = false;
      }
    std::printf("], \"skipped\": [");
    for (size_t k = 0; k < r.skipped.size(); ++k)
      std::printf("%s{\"file\": %s, \"reason\": %s}", k ? ", " : "", jsonString(r.skipped[k].name).c_str(),
                  jsonString(r.skipped[k].reason).c_str());
    std::printf("],\n   \"failedToEnrol\": %d, \"genuine\": %zu, \"impostor\": %zu, \"eer\": %s, \"fmr100\": %s, "
                "\"fmr1000\": %s, \"zeroFmr\": %s, \"levels\": [",
                r.failedToEnrol, r.genuine.size(), r.impostor.size(), jsonRate(r, r.rates.eer).c_str(),
                jsonRate(r, r.rates.fmr100).c_str(), jsonRate(r, r.rates.fmr1000).c_str(),
                jsonRate(r, r.rates.zeroFmr).c_str());
    for (size_t k = 0; k < r.levels.size(); ++k)
      std::printf("%s{\"level\": %zu, \"threshold\": %d, \"fmr\": %s, \"fnmr\": %s}", k ? ", " : "", k + 1,
                  r.levels[k].threshold, jsonRate(r, r.levels[k].fmr).c_str(), jsonRate(r, r.levels[k].fnmr).c_str());
    std::printf("],\n   \"extractMeanUs\": %.1f, \"extractMedianUs\": %.1f, \"compareMeanUs\": %.2f, "
                "\"compareMedianUs\": %.2f, \"compareGenuineMeanUs\": %.2f, \"compareImpostorMeanUs\": %.2f,\n"
                "   \"comparisons\": [",
                r.extractMean, r.extractMedian, r.compareMean, r.compareMedian, mean(r.genuineMicros),
                mean(r.impostorMicros));
    for (size_t k = 0; k < r.comparisons.size(); ++k)
      std::printf("%s\n    %s", k ? "," : "", jsonComparison(r, r.comparisons[k]).c_str());
    std::printf("]}");
  }
  std::printf("\n]}\n");
}

bool writeDetPlot(const std::string& path, const std::vector<SetResult>& results, std::string& error) {
  std::vector<DetSeries> series;
  for (const SetResult& r : results) {
    if (!r.rated) continue;
    DetSeries each{r.name, {}, r.genuine, r.impostor, r.rates.eer};
    for (const RatePoint& p : r.points) each.curve.push_back({p.fmr, p.fnmr});
    series.push_back(std::move(each));
  }
  std::vector<double> thresholds;
  for (int level = 1; level <= 5; ++level) thresholds.push_back(api::SecurityLevelThresholds[level] / 100.0);
  const std::string svg = detPlotSvg(series, thresholds);
  return writeOutputFile(path, reinterpret_cast<const uint8_t*>(svg.data()), svg.size(), error);
}

int runEval(const std::vector<std::string>& args) {
  EvalOptions options;
  if (!parseOptions(args, options)) return kExitUsage;
  const int threads =
      options.threads > 0 ? options.threads : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  int status = kExitDone;
  std::vector<SetResult> results;
  for (const std::string& folder : options.folders) {
    SetResult result;
    std::string error;
    if (!prepareFolder(folder, options, threads, result, error)) {
      std::fprintf(stderr, "fx60 eval: %s\n", error.c_str());
      status = kExitFailed;
      continue;
    }
    compareAll(result, options, threads);
    summarise(result);
    reportFindings(result);
    if (result.unreadable > 0 || !result.rated) status = kExitFailed;
    if (!options.json) printText(result);
    results.push_back(std::move(result));
  }
  if (options.json) printJson(results);
  const auto rated = std::count_if(results.begin(), results.end(), [](const SetResult& r) { return r.rated; });
  if (!options.json && rated > 1) printOverallTimes(results);
  std::string error;
  if (!options.det.empty() && !writeDetPlot(options.det, results, error)) {
    std::fprintf(stderr, "fx60 eval: %s\n", error.c_str());
    status = kExitFailed;
  }
  return status;
}

const CommandRegistration registration{
    {"eval", "DIR... [--impostors fvc|all] [--threads N] [--json] [--det OUT.svg] [--fit]",
     "accuracy and speed of extraction and matching on folders of fingerprint images",
     R"help(Each folder DIR is one set of images named <finger>_<impression>.pgm (or .bmp,
.png), as fx60 synth writes them: 101_1.pgm, 101_2.pgm, ... Other files and
subfolders are skipped and listed with the reason; images that cannot be read are
errors (not failures to enrol) and take no part. For each set it prints what it
found, the failures to enrol (template quality below 20), EER, FMR100, FMR1000,
ZeroFMR, the false match and false non-match rates at each security level, and the
extraction and comparison times (thread time). Error rates need both genuine pairs
(two impressions of a finger) and impostor pairs (two fingers).

options:
  --impostors fvc|all  impostor pairs: the first impressions of every two fingers
                       (fvc, default), or every pair of images of different fingers
  --threads N          threads, 1 to 256 (default: one per core); use 1 for the
                       speed of one core
  --json               print the results as JSON (below) instead of text
  --det OUT.svg        also draw the DET curves and score histograms, as SVG
                       (default: no plot)
  --fit                accept images of another size: centre-crop or pad with white
                       to 256 x 360 (default: other sizes are unreadable)
  -h, --help           this text

JSON: {"sets": [{"name", "folder", "images", "fingers", "unreadable": [{"file",
"reason"}], "skipped": [{"file", "reason"}], "failedToEnrol", "genuine",
"impostor" (counts), "eer", "fmr100", "fmr1000", "zeroFmr" (fractions, null
without both kinds of pairs), "levels": [{"level", "threshold", "fmr", "fnmr"}],
"extractMeanUs", "extractMedianUs", "compareMeanUs", "compareMedianUs",
"compareGenuineMeanUs", "compareImpostorMeanUs", "comparisons": [{"first",
"second" (file names), "genuine", "score", "x1", "x2" (or null), "match": [the
decision at levels 1 to 5]}]}]}. Scores carry every digit of the single-precision
value.

exit status: 0 every set evaluated; 1 a folder could not be read, an image could
not be read, a set has no genuine or no impostor pairs, or the plot could not be
written; 2 bad usage

example: fx60 synth /tmp/set --fingers 20 && fx60 eval /tmp/set --threads 1 --det det.svg
)help",
     runEval}};

}  // namespace
}  // namespace fx60::tool
