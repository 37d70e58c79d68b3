#include "tools/support/extraction_pictures.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

namespace fx60::tool {

namespace {

using namespace fx60::extract;

constexpr double kPi = 3.14159265358979323846;

struct Colour {
  uint8_t r, g, b;
};
constexpr Colour kEndingColour{220, 30, 30};
constexpr Colour kBifurcationColour{30, 80, 230};
constexpr Colour kOrientationColour{200, 0, 0};
constexpr Colour kBackgroundTint{255, 200, 120};

void drawLine(ColourImage& image, int x0, int y0, int x1, int y1, Colour colour) {
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    image.set(x0, y0, colour.r, colour.g, colour.b);
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * error;
    if (e2 >= dy) {
      error += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      error += dx;
      y0 += sy;
    }
  }
}

void drawCircle(ColourImage& image, int cx, int cy, int radius, Colour colour) {
  for (int step = 0; step < 8 * radius; ++step) {
    const double a = 2 * kPi * step / (8 * radius);
    image.set(cx + static_cast<int>(std::lround(radius * std::cos(a))),
              cy + static_cast<int>(std::lround(radius * std::sin(a))), colour.r, colour.g, colour.b);
  }
}

void drawSquare(ColourImage& image, int cx, int cy, int half, Colour colour) {
  drawLine(image, cx - half, cy - half, cx + half, cy - half, colour);
  drawLine(image, cx + half, cy - half, cx + half, cy + half, colour);
  drawLine(image, cx + half, cy + half, cx - half, cy + half, colour);
  drawLine(image, cx - half, cy + half, cx - half, cy - half, colour);
}

// One minutia at (x, y) of the original image, direction in radians from +x
// towards +y (clockwise on the screen).
void drawMinutia(ColourImage& image, int scale, int x, int y, int kind, double direction) {
  const Colour colour = kind == kBifurcation ? kBifurcationColour : kEndingColour;
  const int cx = x * scale + scale / 2, cy = y * scale + scale / 2;
  const int radius = 3 * scale;
  if (kind == kBifurcation)
    drawSquare(image, cx, cy, radius, colour);
  else
    drawCircle(image, cx, cy, radius, colour);
  const int length = 8 * scale;
  drawLine(image, cx, cy, cx + static_cast<int>(std::lround(length * std::cos(direction))),
           cy + static_cast<int>(std::lround(length * std::sin(direction))), colour);
}

ColourImage drawOrientationField(const uint8_t* image, const OrientationMap& orientation) {
  constexpr int kScale = 2;
  std::vector<uint8_t> faded(image, image + kPixels);
  for (uint8_t& p : faded) p = static_cast<uint8_t>(170 + p * 85 / 255);
  ColourImage picture = toColour(faded.data(), kWidth, kHeight, kScale);
  // The image is faded so that the segments stand out; background cells are tinted; every second cell gets a short segment along
  // its ridge direction.
  for (int r = 0; r < kGridRows; ++r)
    for (int c = 0; c < kGridColumns; ++c) {
      const uint8_t cell = orientation[cellIndex(r, c)];
      if (!isBackground(cell)) continue;
      for (int y = 3 * r * kScale; y < 3 * (r + 1) * kScale; ++y)
        for (int x = 3 * c * kScale; x < 3 * (c + 1) * kScale; ++x) {
          uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
          p[0] = static_cast<uint8_t>((p[0] + kBackgroundTint.r) / 2);
          p[1] = static_cast<uint8_t>((p[1] + kBackgroundTint.g) / 2);
          p[2] = static_cast<uint8_t>((p[2] + kBackgroundTint.b) / 2);
        }
    }
  for (int r = 0; r < kGridRows; r += 2)
    for (int c = 0; c < kGridColumns; c += 2) {
      const uint8_t cell = orientation[cellIndex(r, c)];
      if (isBackground(cell)) continue;
      const double a = orientationOf(cell) * 1.5 * kPi / 180;
      const double cx = cellCentreX(c) * kScale, cy = cellCentreY(r) * kScale;
      const double half = 2.8 * kScale;
      drawLine(picture, static_cast<int>(std::lround(cx - half * std::cos(a))),
               static_cast<int>(std::lround(cy - half * std::sin(a))),
               static_cast<int>(std::lround(cx + half * std::cos(a))),
               static_cast<int>(std::lround(cy + half * std::sin(a))), kOrientationColour);
    }
  return picture;
}

ColourImage drawPeriods(const PeriodMap& periods) {
  // Each cell as a 3 x 3 block: black without an estimate, brighter for longer periods.
  ColourImage picture(kWidth, kHeight);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const int r = std::min(kGridRows - 1, y / 3), c = std::min(kGridColumns - 1, x / 3);
      const int code = periods[cellIndex(r, c)];
      const auto g = static_cast<uint8_t>(std::min(255, code * 255 / 144));
      picture.set(x, y, g, g, g);
    }
  return picture;
}

ColourImage drawCandidates(const uint8_t* image, const MinutiaCandidateList& candidates) {
  constexpr int kScale = 2;
  ColourImage picture = toColour(image, kWidth, kHeight, kScale);
  const uint32_t count = std::min<uint32_t>(candidates.count, kMaxCandidates);
  for (uint32_t i = 0; i < count; ++i) {
    const MinutiaCandidate& m = candidates.entries[i];
    if (m.direction240 == kRemovedDirection) continue;
    drawMinutia(picture, kScale, m.x, m.y, m.kind, m.direction240 * 1.5 * kPi / 180);
  }
  return picture;
}

}  // namespace

void ExtractionRecorder::onImage(ImageStage stage, const uint8_t* image) {
  images.push_back({stage, std::vector<uint8_t>(image, image + kPixels)});
}
void ExtractionRecorder::onOrientation(const OrientationMap& map, int score) {
  orientation = map;
  quality = score;
}
void ExtractionRecorder::onPeriods(const PeriodMap& map) { periods = map; }
void ExtractionRecorder::onCandidates(const MinutiaCandidateList& list, bool afterJoin) {
  (afterJoin ? joinedCandidates : candidates) = list;
}
void ExtractionRecorder::onMinutiae(const MinutiaList& list) { minutiae = list; }

const std::vector<uint8_t>* ExtractionRecorder::image(ImageStage stage) const {
  for (const StageImage& entry : images)
    if (entry.stage == stage) return &entry.pixels;
  return nullptr;
}

ColourImage drawMinutiaeOverlay(const uint8_t* image, const MinutiaList& minutiae) {
  constexpr int kScale = 2;
  ColourImage picture = toColour(image, kWidth, kHeight, kScale);
  for (int i = 0; i < std::min<int>(minutiae.count, kMaxMinutiae); ++i) {
    const Minutia& m = minutiae.entries[i];
    drawMinutia(picture, kScale, m.x, m.y, m.kind, m.direction256 * 2 * kPi / 256);
  }
  return picture;
}

bool writeStagePictures(const ExtractionRecorder& recorder, const std::string& directory, std::string& error) {
  std::error_code created;
  std::filesystem::create_directories(directory, created);
  if (created) {
    error = "cannot create " + directory + ": " + created.message();
    return false;
  }
  const std::string extension = pngSupported() ? ".png" : ".ppm";
  int number = 0;
  auto write = [&](const std::string& name, const ColourImage& picture) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d_", ++number);
    return writeImage((std::filesystem::path(directory) / (prefix + name + extension)).string(), picture, error);
  };
  auto writeStage = [&](ImageStage stage) {
    const std::vector<uint8_t>* pixels = recorder.image(stage);
    return pixels == nullptr || write(imageStageName(stage), toColour(pixels->data(), kWidth, kHeight));
  };
  const std::vector<uint8_t>* preconditioned = recorder.image(ImageStage::kPreconditioned);
  const std::vector<uint8_t>* thinned = recorder.image(ImageStage::kThinned);
  const std::vector<uint8_t>* joined = recorder.image(ImageStage::kJoined);
  return writeStage(ImageStage::kPreconditioned) &&
         (preconditioned == nullptr ||
          write("orientation", drawOrientationField(preconditioned->data(), recorder.orientation))) &&
         writeStage(ImageStage::kUnnormalised) && writeStage(ImageStage::kSmoothed) &&
         write("periods", drawPeriods(recorder.periods)) && writeStage(ImageStage::kEnhanced) &&
         writeStage(ImageStage::kBinary) && writeStage(ImageStage::kHoleFilled) && writeStage(ImageStage::kThinned) &&
         (thinned == nullptr || write("candidates", drawCandidates(thinned->data(), recorder.candidates))) &&
         (joined == nullptr || write("joined_candidates", drawCandidates(joined->data(), recorder.joinedCandidates))) &&
         (joined == nullptr || write("refined_minutiae", drawMinutiaeOverlay(joined->data(), recorder.minutiae)));
}

}  // namespace fx60::tool
