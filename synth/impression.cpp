#include "synth/impression.h"

#include <algorithm>
#include <cmath>

#include "synth/portable_math.h"

namespace fx60::synth {

namespace {

constexpr double kCentreX = kImageWidth / 2.0;
constexpr double kCentreY = kImageHeight / 2.0;

// Shares of impressions placed far off the usual spot, and made with a light touch.
constexpr double kOffCentreShare = 0.2;
constexpr double kLightTouchShare = 0.08;

// Where (dx, dy) from an ellipse's centre lies: 1 on the ellipse, less inside.
double ellipticalRadius(double dx, double dy, double halfWidth, double halfHeight) {
  return std::sqrt(dx * dx / (halfWidth * halfWidth) + dy * dy / (halfHeight * halfHeight));
}

// A draw from a normal-like distribution, clamped to +-limit.
double boundedNormal(Random& random, double deviation, double limit) {
  return std::clamp(random.normal() * deviation, -limit, limit);
}

float bilinear(const Grid<float>& grid, double x, double y) {
  const double fx = std::floor(x), fy = std::floor(y);
  const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
  if (x0 < 0 || y0 < 0 || x0 + 1 >= grid.width || y0 + 1 >= grid.height) return 0;
  const float ax = static_cast<float>(x - fx), ay = static_cast<float>(y - fy);
  const float top = grid.at(x0, y0) + ax * (grid.at(x0 + 1, y0) - grid.at(x0, y0));
  const float bottom = grid.at(x0, y0 + 1) + ax * (grid.at(x0 + 1, y0 + 1) - grid.at(x0, y0 + 1));
  return top + ay * (bottom - top);
}

// One pass of the weights 1 2 1 along rows, then along columns: a 3 x 3 binomial
// filter. At the border the missing neighbour's weight goes to the pixel itself.
Grid<float> binomialBlur(const Grid<float>& grey) {
  const int width = grey.width, height = grey.height;
  Grid<float> across(width, height);
  for (int y = 0; y < height; ++y) {
    const float* row = &grey.values[static_cast<size_t>(y) * width];
    float* out = &across.values[static_cast<size_t>(y) * width];
    for (int x = 0; x < width; ++x) {
      const float left = row[x > 0 ? x - 1 : x], right = row[x + 1 < width ? x + 1 : x];
      out[x] = 0.25f * (left + 2 * row[x] + right);
    }
  }
  Grid<float> blurred(width, height);
  for (int y = 0; y < height; ++y) {
    const float* above = &across.values[static_cast<size_t>(y > 0 ? y - 1 : y) * width];
    const float* row = &across.values[static_cast<size_t>(y) * width];
    const float* below = &across.values[static_cast<size_t>(y + 1 < height ? y + 1 : y) * width];
    float* out = &blurred.values[static_cast<size_t>(y) * width];
    for (int x = 0; x < width; ++x) out[x] = 0.25f * (above[x] + 2 * row[x] + below[x]);
  }
  return blurred;
}

}  // namespace

Grid<float> valueNoise(int width, int height, int cell, Random& random) {
  const int latticeWidth = width / cell + 2, latticeHeight = height / cell + 2;
  Grid<float> lattice(latticeWidth, latticeHeight);
  for (float& value : lattice.values) value = static_cast<float>(random.uniform());
  // Weights eased with 3t^2 - 2t^3: no creases along the lattice lines, so that
  // thresholded noise gives round blobs rather than diamonds.
  std::vector<float> ease(cell);
  for (int i = 0; i < cell; ++i) ease[i] = static_cast<float>(smoothStep(static_cast<double>(i) / cell));
  Grid<float> noise(width, height);
  std::vector<float> between(latticeWidth);  // the lattice interpolated down to row y
  for (int y = 0; y < height; ++y) {
    const int top = y / cell;
    const float down = ease[y % cell];
    for (int i = 0; i < latticeWidth; ++i)
      between[i] = lattice.at(i, top) + down * (lattice.at(i, top + 1) - lattice.at(i, top));
    float* out = &noise.values[static_cast<size_t>(y) * width];
    for (int x = 0; x < width; ++x) {
      const int left = x / cell;
      const float across = ease[x % cell];
      out[x] = between[left] + across * (between[left + 1] - between[left]);
    }
  }
  return noise;
}

ImpressionRecipe drawImpression(Point padCentre, const Outline& fingertip, Random& random) {
  ImpressionRecipe recipe;
  Placement& placement = recipe.placement;
  // Mostly small turns, now and then up to 20 degrees either way (a triangular
  // distribution; the two draws in separate statements, to keep their order).
  const double firstDraw = random.uniform();
  placement.rotation = (firstDraw + random.uniform() - 1.0) * (20.0 * kPi / 180.0);
  // Now and then the finger lies far up or down the sensor, and the picture
  // shows another part of it.
  const bool offCentre = random.chance(kOffCentreShare);
  placement.fingerAtCentre.x = padCentre.x + boundedNormal(random, offCentre ? 35 : 22, 70);
  if (offCentre) {
    const double direction = random.chance(0.5) ? 1 : -1;
    placement.fingerAtCentre.y = padCentre.y + direction * random.uniform(60, 120);
  } else {
    placement.fingerAtCentre.y = padCentre.y + boundedNormal(random, 26, 60);
  }
  placement.drag.x = boundedNormal(random, 9, 20);
  placement.drag.y = boundedNormal(random, 9, 20);
  placement.twist = boundedNormal(random, 0.03, 0.07);
  placement.stretchX = boundedNormal(random, 0.05, 0.12);
  placement.stretchY = boundedNormal(random, 0.05, 0.12);
  placement.shear = boundedNormal(random, 0.04, 0.1);
  placement.innerRadius = random.uniform(0.3, 0.5);

  Rendering& rendering = recipe.rendering;
  rendering.pressure = boundedNormal(random, 0.45, 1.0);
  rendering.unevenness = random.uniform(0, 0.6);
  rendering.dryness = std::max(0.0, random.uniform(-0.1, 0.32) - 0.2 * rendering.pressure);
  rendering.wetness = std::max(0.0, random.uniform(-0.2, 0.35) + 0.25 * rendering.pressure);
  rendering.blurPasses = 1 + static_cast<int>(random.below(3));
  rendering.backgroundGrey = random.uniform(195, 250);
  rendering.valleyGrey = rendering.backgroundGrey - random.uniform(5, 40);
  rendering.ridgeGrey = random.uniform(15, 80) + 30 * std::max(0.0, -rendering.pressure);
  rendering.shading = random.uniform(0, 25);
  rendering.sensorNoise = random.uniform(2, 10);

  Contact& contact = recipe.contact;
  // The finger is pressed about the sensor's centre; which part of it lies there
  // changes with the finger's placement and tilt. Pressing harder flattens more
  // of the fingertip onto the sensor.
  const double spread = 1 + 0.08 * rendering.pressure;
  contact.centre.x = kCentreX + boundedNormal(random, 8, 20);
  contact.centre.y = kCentreY + boundedNormal(random, 10, 25);
  // A light touch leaves a small print.
  const double size = random.chance(kLightTouchShare) ? random.uniform(0.78, 0.9) : 1.0;
  contact.halfWidth = random.uniform(110, 145) * spread * size;
  contact.halfHeight = random.uniform(160, 200) * spread * size;
  contact.rimRoughness = random.uniform(0.02, 0.08);
  contact.gaps = std::max(0.0, random.uniform(-0.3, 0.3));
  contact.fingertip = fingertip;
  contact.cut = random.chance(0.15);
  if (contact.cut) {
    const SineCosine direction = sineCosine(random.uniform(0, kTwoPi));
    contact.cutNormal = {direction.cosine, direction.sine};
    contact.cutDistance = random.uniform(80, 130);
  }
  recipe.noiseSeed = random.next();
  return recipe;
}

Grid<Point> placeOnSensor(const Placement& placement, const Contact& contact) {
  Grid<Point> sources(kImageWidth, kImageHeight);
  const SineCosine turn = sineCosine(placement.rotation);
  for (int y = 0; y < kImageHeight; ++y)
    for (int x = 0; x < kImageWidth; ++x) {
      // The skin far from the centre of contact was dragged by friction; the
      // centre stuck where it first touched.
      const double dx = x - contact.centre.x, dy = y - contact.centre.y;
      const double radius = ellipticalRadius(dx, dy, contact.halfWidth, contact.halfHeight);
      const double stretch = smoothStep((radius - placement.innerRadius) / (1.0 - placement.innerRadius));
      const double sx =
          x - stretch * (placement.drag.x - placement.twist * dy + placement.stretchX * dx + placement.shear * dy);
      const double sy =
          y - stretch * (placement.drag.y + placement.twist * dx + placement.stretchY * dy + placement.shear * dx);
      // Undo the rigid placement: turn back about the image centre.
      const double ux = sx - kCentreX, uy = sy - kCentreY;
      sources.at(x, y) = {placement.fingerAtCentre.x + turn.cosine * ux + turn.sine * uy,
                          placement.fingerAtCentre.y - turn.sine * ux + turn.cosine * uy};
    }
  return sources;
}

Grid<float> sampleRidges(const RidgePattern& master, const Grid<Point>& sources) {
  Grid<float> ridges(sources.width, sources.height);
  for (size_t i = 0; i < sources.values.size(); ++i)
    ridges.values[i] = bilinear(master, sources.values[i].x, sources.values[i].y);
  return ridges;
}

Grid<float> contactRegion(const Contact& contact, const Grid<Point>& sources, Random& random) {
  const Grid<float> rim = valueNoise(sources.width, sources.height, 24, random);
  const Grid<float> holes = valueNoise(sources.width, sources.height, 48, random);
  Grid<float> region(sources.width, sources.height);
  constexpr double kRimPixels = 6;
  const double rimShare = kRimPixels / std::min(contact.halfWidth, contact.halfHeight);
  const Outline& tip = contact.fingertip;
  const double tipRimShare = kRimPixels / std::min(tip.halfWidth, tip.halfHeight);
  for (int y = 0; y < sources.height; ++y)
    for (int x = 0; x < sources.width; ++x) {
      const size_t i = static_cast<size_t>(y) * sources.width + x;
      const double roughness = contact.rimRoughness * (2 * rim.values[i] - 1);
      const double dx = x - contact.centre.x, dy = y - contact.centre.y;
      const double pressed = ellipticalRadius(dx, dy, contact.halfWidth, contact.halfHeight) + roughness;
      const double tx = sources.values[i].x - tip.centre.x, ty = sources.values[i].y - tip.centre.y;
      const double skin = ellipticalRadius(tx, ty, tip.halfWidth, tip.halfHeight) + roughness;
      // The master ends below at the finger's first crease.
      const double crease = (kMasterHeight - 1 - sources.values[i].y) / kRimPixels;
      double firmness = std::min({std::clamp((1 - pressed) / rimShare, 0.0, 1.0),
                                  std::clamp((1 - skin) / tipRimShare, 0.0, 1.0), std::clamp(crease, 0.0, 1.0)});
      // Where the skin did not quite touch, the print fades out.
      firmness *= 1 - 0.9 * smoothStep((contact.gaps - holes.values[i]) * 10);
      if (contact.cut) {
        const double beyond = dx * contact.cutNormal.x + dy * contact.cutNormal.y - contact.cutDistance;
        firmness *= std::clamp(-beyond / kRimPixels, 0.0, 1.0);
      }
      region.values[i] = static_cast<float>(firmness);
    }
  return region;
}

Grid<float> ridgeInk(const Grid<float>& ridges, const Rendering& rendering, Random& random) {
  // The finger presses unevenly: the ink threshold wanders in patches.
  const Grid<float> patches = valueNoise(ridges.width, ridges.height, 40, random);
  Grid<float> ink(ridges.width, ridges.height);
  for (size_t i = 0; i < ridges.values.size(); ++i) {
    const double pressureHere = rendering.pressure + rendering.unevenness * (2 * patches.values[i] - 1);
    const double threshold = -0.3 * pressureHere;
    ink.values[i] = static_cast<float>(smoothStep((ridges.values[i] - threshold) / 0.9 + 0.5));
  }
  return ink;
}

Grid<float> applyPressure(const Grid<float>& ink, double pressure) {
  Grid<float> current = ink;
  // One step of a 3 x 3 cross widens or narrows a ridge by two pixels; pressure
  // +-1 gives about one step.
  double remaining = std::abs(pressure) * 1.1;
  const bool dilate = pressure > 0;
  while (remaining > 0.01) {
    const float weight = static_cast<float>(std::min(1.0, remaining));
    Grid<float> stepped = current;
    for (int y = 0; y < current.height; ++y)
      for (int x = 0; x < current.width; ++x) {
        float extreme = current.at(x, y);
        const int neighbours[4][2] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
        for (const auto& n : neighbours) {
          if (!current.contains(n[0], n[1])) continue;
          const float value = current.at(n[0], n[1]);
          extreme = dilate ? std::max(extreme, value) : std::min(extreme, value);
        }
        stepped.at(x, y) = current.at(x, y) + weight * (extreme - current.at(x, y));
      }
    current = std::move(stepped);
    remaining -= 1.0;
  }
  return current;
}

Grid<float> addSkinNoise(const Grid<float>& ink, const Rendering& rendering, Random& random) {
  const Grid<float> pores = valueNoise(ink.width, ink.height, 4, random);
  const Grid<float> patches = valueNoise(ink.width, ink.height, 20, random);
  const Grid<float> smudges = valueNoise(ink.width, ink.height, 5, random);
  Grid<float> noisy(ink.width, ink.height);
  for (size_t i = 0; i < ink.values.size(); ++i) {
    // Dryness comes in patches: break ridges where small-scale noise falls below a
    // level that is higher inside a dry patch.
    const double dryHere = rendering.dryness * (0.4 + 1.2 * patches.values[i]);
    const double broken = smoothStep((dryHere - pores.values[i]) * 8);
    const double wetHere = rendering.wetness * (1.6 - 1.2 * patches.values[i]);
    const double smudge = smoothStep((wetHere - smudges.values[i]) * 6) * 0.7;
    const double value = std::max<double>(ink.values[i] * (1 - broken), smudge);
    noisy.values[i] = static_cast<float>(value);
  }
  return noisy;
}

std::vector<uint8_t> composeImage(const Grid<float>& ink, const Grid<float>& contact, const Rendering& rendering,
                                  Random& random) {
  const int width = ink.width, height = ink.height;
  const Grid<float> lighting = valueNoise(width, height, 120, random);
  Grid<float> grey(width, height);
  for (size_t i = 0; i < ink.values.size(); ++i) {
    const double background = rendering.backgroundGrey - rendering.shading * lighting.values[i];
    const double touched = rendering.valleyGrey - rendering.shading * lighting.values[i] -
                           ink.values[i] * (rendering.valleyGrey - rendering.ridgeGrey);
    grey.values[i] = static_cast<float>(background + contact.values[i] * (touched - background));
  }
  // The optics blur a little: one to three passes of a 3 x 3 binomial filter.
  for (int pass = 0; pass < rendering.blurPasses; ++pass) grey = binomialBlur(grey);
  std::vector<uint8_t> image(static_cast<size_t>(width) * height);
  for (size_t i = 0; i < image.size(); ++i) {
    const double value = grey.values[i] + rendering.sensorNoise * random.normal();
    image[i] = static_cast<uint8_t>(std::clamp(std::floor(value + 0.5), 0.0, 255.0));
  }
  return image;
}

std::vector<uint8_t> renderImpression(const RidgePattern& master, const ImpressionRecipe& recipe) {
  Random random(recipe.noiseSeed);
  const Grid<Point> sources = placeOnSensor(recipe.placement, recipe.contact);
  const Grid<float> ridges = sampleRidges(master, sources);
  Random contactRandom = random.fork(1);
  const Grid<float> contact = contactRegion(recipe.contact, sources, contactRandom);
  Random inkRandom = random.fork(4);
  const Grid<float> ink = ridgeInk(ridges, recipe.rendering, inkRandom);
  const Grid<float> pressed = applyPressure(ink, recipe.rendering.pressure);
  Random skinRandom = random.fork(2);
  const Grid<float> blemished = addSkinNoise(pressed, recipe.rendering, skinRandom);
  Random sensorRandom = random.fork(3);
  return composeImage(blemished, contact, recipe.rendering, sensorRandom);
}

}  // namespace fx60::synth
