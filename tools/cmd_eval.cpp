// fx60 eval: accuracy and speed of extraction and matching on folders of
// <finger>_<impression> images, with the verification-competition protocol.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/feature_template.h"
#include "driver/library_api.h"
#include "extract/extractor.h"
#include "match/matcher.h"
#include "tools/commands.h"
#include "tools/support/image_io.h"

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

struct EvalOptions {
  std::vector<std::string> folders;
  bool allImpostors = false;
  int threads = 0;
  bool json = false;
  std::string det;
};

bool parseOptions(const std::vector<std::string>& args, EvalOptions& options) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--impostors" && i + 1 < args.size()) {
      const std::string& kind = args[++i];
      if (kind != "fvc" && kind != "all") return false;
      options.allImpostors = kind == "all";
    } else if (arg == "--threads" && i + 1 < args.size()) {
      options.threads = std::atoi(args[++i].c_str());
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--det" && i + 1 < args.size()) {
      options.det = args[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return false;
    } else {
      options.folders.push_back(arg);
    }
  }
  return !options.folders.empty();
}

struct Sample {
  fs::path file;
  std::string finger;
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
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  return ext == ".pgm" || ext == ".bmp" || ext == ".png";
}

std::vector<Sample> listSamples(const std::string& folder) {
  std::vector<Sample> samples;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (!entry.is_regular_file() || !isImageFile(entry.path())) continue;
    const std::string stem = entry.path().stem().string();
    const size_t underscore = stem.rfind('_');
    if (underscore == std::string::npos) continue;
    samples.push_back({entry.path(), stem.substr(0, underscore), {}, {}, false, 0});
  }
  std::sort(samples.begin(), samples.end(), [](const Sample& a, const Sample& b) { return a.file < b.file; });
  return samples;
}

void extractSample(Sample& sample) {
  std::vector<uint8_t> image;
  std::string error;
  sample.sealed.assign(kTemplateSize, 0);
  if (!readFingerprintImage(sample.file.string(), true, image, error)) return;
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
std::vector<Comparison> plannedComparisons(const std::vector<Sample>& samples, bool allImpostors) {
  std::vector<Comparison> plan;
  auto isFirstImpression = [&](size_t i) { return i == 0 || samples[i - 1].finger != samples[i].finger; };
  for (size_t i = 0; i < samples.size(); ++i)
    for (size_t j = i + 1; j < samples.size(); ++j) {
      const bool genuine = samples[i].finger == samples[j].finger;
      if (!genuine && !allImpostors && !(isFirstImpression(i) && isFirstImpression(j))) continue;
      plan.push_back({static_cast<int>(i), static_cast<int>(j), genuine});
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
  int images = 0;
  int failedToEnrol = 0;
  std::vector<float> genuine;
  std::vector<float> impostor;
  ErrorRates rates;
  std::vector<LevelOutcome> levels;
  double extractMean = 0, extractMedian = 0, compareMean = 0, compareMedian = 0;
  std::vector<double> genuineMicros;  // comparison thread times
  std::vector<double> impostorMicros;
  std::vector<RatePoint> points;
};

SetResult evaluateFolder(const std::string& folder, const EvalOptions& options, int threads) {
  SetResult result;
  result.name = fs::path(folder).filename().string();
  if (result.name.empty()) result.name = fs::path(folder).parent_path().filename().string();
  std::vector<Sample> samples = listSamples(folder);
  result.images = static_cast<int>(samples.size());
  parallelFor(result.images, threads, "extracting", [&](int i) { extractSample(samples[i]); });

  std::vector<Comparison> plan = plannedComparisons(samples, options.allImpostors);
  parallelFor(static_cast<int>(plan.size()), threads, "comparing", [&](int k) {
    Comparison& c = plan[k];
    const double start = threadMicros();
    float score = 0;
    match::matchTemplates(samples[c.first].sealed.data(), samples[c.second].unsealed.data(), &score);
    c.micros = threadMicros() - start;
    c.score = score;
  });

  std::vector<double> extractTimes;
  for (const Sample& s : samples) {
    if (!s.enrolled) ++result.failedToEnrol;
    if (s.extractMicros > 0) extractTimes.push_back(s.extractMicros);
  }
  std::vector<double> compareTimes;
  for (const Comparison& c : plan) {
    (c.genuine ? result.genuine : result.impostor).push_back(c.score);
    (c.genuine ? result.genuineMicros : result.impostorMicros).push_back(c.micros);
    compareTimes.push_back(c.micros);
  }
  std::sort(result.genuine.begin(), result.genuine.end());
  std::sort(result.impostor.begin(), result.impostor.end());
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
  return result;
}

void printText(const SetResult& r) {
  std::printf("%s: %d images, %d failed to enrol, %zu genuine, %zu impostor comparisons\n", r.name.c_str(),
              r.images, r.failedToEnrol, r.genuine.size(), r.impostor.size());
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

// A set name as a JSON string body: quotes, backslashes and control bytes escaped,
// so that any folder name gives valid output.
std::string jsonEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
      out += code;
    } else {
      out += c;
    }
  }
  return out;
}

void printJson(const std::vector<SetResult>& results) {
  std::printf("{\"sets\": [");
  for (size_t i = 0; i < results.size(); ++i) {
    const SetResult& r = results[i];
    std::printf("%s\n  {\"name\": \"%s\", \"images\": %d, \"failedToEnrol\": %d, \"genuine\": %zu, "
                "\"impostor\": %zu, \"eer\": %.6f, \"fmr100\": %.6f, \"fmr1000\": %.6f, \"zeroFmr\": %.6f, "
                "\"levels\": [",
                i ? "," : "", jsonEscaped(r.name).c_str(), r.images, r.failedToEnrol, r.genuine.size(), r.impostor.size(),
                r.rates.eer, r.rates.fmr100, r.rates.fmr1000, r.rates.zeroFmr);
    for (size_t k = 0; k < r.levels.size(); ++k)
      std::printf("%s{\"level\": %zu, \"threshold\": %d, \"fmr\": %.6f, \"fnmr\": %.6f}", k ? ", " : "", k + 1,
                  r.levels[k].threshold, r.levels[k].fmr, r.levels[k].fnmr);
    std::printf("], \"extractMeanUs\": %.1f, \"extractMedianUs\": %.1f, \"compareMeanUs\": %.2f, "
                "\"compareMedianUs\": %.2f, \"compareGenuineMeanUs\": %.2f, \"compareImpostorMeanUs\": %.2f}",
                r.extractMean, r.extractMedian, r.compareMean, r.compareMedian, mean(r.genuineMicros),
                mean(r.impostorMicros));
  }
  std::printf("\n]}\n");
}

// A DET curve (FNMR against FMR, both on log axes) and the genuine and impostor score
// histograms of every set, side by side.
bool writeDetSvg(const std::string& path, const std::vector<SetResult>& results) {
  std::ofstream out(path);
  if (!out) return false;
  const char* colours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};
  const double w = 420, h = 360, left = 60, top = 30;
  auto logPos = [](double rate) { return std::log10(std::max(rate, 1e-4)) / 4 + 1; };  // 1e-4..1 -> 0..1
  out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << 2 * w + 2 * left + 40 << "' height='"
      << h + 2 * top + 20 + 24 * results.size() << "' font-family='sans-serif' font-size='11'>\n";
  out << "<rect x='0' y='0' width='100%' height='100%' fill='white'/>\n";
  out << "<text x='" << left << "' y='18' font-size='13'>DET: FNMR against FMR</text>\n";
  out << "<rect x='" << left << "' y='" << top << "' width='" << w << "' height='" << h
      << "' fill='none' stroke='black'/>\n";
  for (int decade = 0; decade <= 4; ++decade) {
    const double rate = std::pow(10.0, -decade);
    const double x = left + logPos(rate) * w;
    const double y = top + (1 - logPos(rate)) * h;
    out << "<line x1='" << x << "' y1='" << top << "' x2='" << x << "' y2='" << top + h
        << "' stroke='#ddd'/><text x='" << x - 10 << "' y='" << top + h + 14 << "'>" << rate * 100 << "%</text>\n";
    out << "<line x1='" << left << "' y1='" << y << "' x2='" << left + w << "' y2='" << y
        << "' stroke='#ddd'/><text x='" << left - 45 << "' y='" << y + 4 << "'>" << rate * 100 << "%</text>\n";
  }
  const double hx = 2 * left + w + 20;
  out << "<text x='" << hx << "' y='18' font-size='13'>Scores: genuine (solid), impostor (dashed)</text>\n";
  out << "<rect x='" << hx << "' y='" << top << "' width='" << w << "' height='" << h
      << "' fill='none' stroke='black'/>\n";
  for (size_t s = 0; s < results.size(); ++s) {
    const SetResult& r = results[s];
    const char* colour = colours[s % 8];
    out << "<polyline fill='none' stroke='" << colour << "' stroke-width='1.5' points='";
    for (const RatePoint& p : r.points)
      out << left + logPos(p.fmr) * w << "," << top + (1 - logPos(p.fnmr)) * h << " ";
    out << "'/>\n";
    constexpr int kBins = 50;
    for (int kind = 0; kind < 2; ++kind) {
      const std::vector<float>& scores = kind == 0 ? r.genuine : r.impostor;
      std::vector<double> bins(kBins, 0);
      for (float v : scores) bins[std::min(kBins - 1, static_cast<int>(v * kBins))] += 1;
      for (double& b : bins) b = scores.empty() ? 0 : b / scores.size();
      out << "<polyline fill='none' stroke='" << colour << "'" << (kind ? " stroke-dasharray='4,3'" : "")
          << " points='";
      for (int b = 0; b < kBins; ++b)
        out << hx + (b + 0.5) * w / kBins << "," << top + h - std::sqrt(bins[b]) * h << " ";
      out << "'/>\n";
    }
    out << "<text x='" << left << "' y='" << top + h + 36 + 24 * s << "' fill='" << colour << "'>" << r.name
        << ": EER " << r.rates.eer * 100 << " %, " << r.genuine.size() << " genuine, " << r.impostor.size()
        << " impostor</text>\n";
  }
  out << "<text x='" << hx << "' y='" << top + h + 14 << "'>score 0 to 1 (heights: square root of share)</text>\n";
  out << "</svg>\n";
  return static_cast<bool>(out);
}

int runEval(const std::vector<std::string>& args) {
  EvalOptions options;
  if (!parseOptions(args, options)) {
    std::fprintf(stderr, "usage: fx60 eval DIR... [--impostors fvc|all] [--threads N] [--json] [--det OUT.svg]\n");
    return 2;
  }
  int threads = options.threads > 0 ? options.threads : static_cast<int>(std::thread::hardware_concurrency());
  threads = std::max(1, threads);
  std::vector<SetResult> results;
  for (const std::string& folder : options.folders) {
    if (!fs::is_directory(folder)) {
      std::fprintf(stderr, "fx60 eval: %s is not a folder\n", folder.c_str());
      return 1;
    }
    results.push_back(evaluateFolder(folder, options, threads));
    if (!options.json) printText(results.back());
  }
  if (options.json) printJson(results);
  if (!options.json && results.size() > 1) printOverallTimes(results);
  if (!options.det.empty() && !writeDetSvg(options.det, results)) {
    std::fprintf(stderr, "fx60 eval: cannot write %s\n", options.det.c_str());
    return 1;
  }
  return 0;
}

const CommandRegistration registration{
    {"eval", "DIR... [--impostors fvc|all] [--threads N] [--json] [--det OUT.svg]   accuracy and speed",
     runEval}};

}  // namespace
}  // namespace fx60::tool
