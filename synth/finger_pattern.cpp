#include "synth/finger_pattern.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "synth/portable_math.h"

namespace fx60::synth {

namespace {

constexpr std::array<std::string_view, 5> kClassNames = {"arch", "tented-arch", "left-loop", "right-loop", "whorl"};

// Shares of the classes among real fingers, in per mille, in enum order.
constexpr std::array<uint32_t, 5> kClassShares = {37, 29, 338, 317, 279};

struct Complex {
  double re;
  double im;
  Complex operator*(Complex other) const { return {re * other.re - im * other.im, re * other.im + im * other.re}; }
};

}  // namespace

std::string_view fingerClassName(FingerClass fingerClass) { return kClassNames[static_cast<size_t>(fingerClass)]; }

std::optional<FingerClass> parseFingerClass(std::string_view name) {
  for (FingerClass fingerClass : kAllFingerClasses)
    if (fingerClassName(fingerClass) == name) return fingerClass;
  return std::nullopt;
}

FingerClass drawFingerClass(Random& random) {
  uint32_t draw = random.below(1000);
  for (FingerClass fingerClass : kAllFingerClasses) {
    const uint32_t share = kClassShares[static_cast<size_t>(fingerClass)];
    if (draw < share) return fingerClass;
    draw -= share;
  }
  return FingerClass::kWhorl;
}

namespace {

// A singular point with a random bend of the flow around it. Harmonic k + 1 has
// an amplitude below 0.3 / (k + 1), so the bent angle still grows monotonically
// around the point.
SingularPoint bentPoint(double x, double y, Random& random) {
  SingularPoint point{{x, y}, {}, {}};
  for (size_t k = 0; k < point.sine.size(); ++k) {
    const double amplitude = random.uniform(0, 0.3 / static_cast<double>(k + 1));
    const SineCosine phase = sineCosine(random.uniform(0, kTwoPi));
    point.sine[k] = amplitude * phase.cosine;
    point.cosine[k] = amplitude * phase.sine;
  }
  return point;
}

}  // namespace

SingularPoints placeSingularPoints(FingerClass fingerClass, Random& random) {
  SingularPoints points;
  // The pattern's centre lies a little above the middle of the fingertip.
  const double centreX = kMasterWidth / 2.0 + random.uniform(-14, 14);
  const double centreY = kMasterHeight / 2.0 + random.uniform(-40, 0);
  points.flowRotation = random.uniform(-0.12, 0.12);
  points.archCentre = {centreX, centreY};
  points.archWidth = random.uniform(55, 80);
  for (int i = 0; i < 3; ++i) {
    const SineCosine heading = sineCosine(random.uniform(0, kTwoPi));
    const double wavenumber = kTwoPi / random.uniform(120, 400);
    const double amplitude = random.uniform(0.04, 0.12);
    const double phase = random.uniform(0, kTwoPi);
    points.waves.push_back({amplitude, wavenumber * heading.cosine, wavenumber * heading.sine, phase});
  }
  switch (fingerClass) {
    case FingerClass::kArch:
      points.archHeight = random.uniform(35, 70);
      points.archCentre.y += 30;
      break;
    case FingerClass::kTentedArch: {
      const double gap = random.uniform(35, 60);
      const double deltaX = centreX + random.uniform(-6, 6);
      points.cores.push_back(bentPoint(centreX, centreY - gap / 2, random));
      points.deltas.push_back(bentPoint(deltaX, centreY + gap / 2, random));
      points.archHeight = random.uniform(10, 25);
      break;
    }
    case FingerClass::kLeftLoop:
    case FingerClass::kRightLoop: {
      // A left loop opens to the left, with its delta on the right, and the other
      // way round.
      const double side = fingerClass == FingerClass::kLeftLoop ? 1 : -1;
      points.cores.push_back(bentPoint(centreX, centreY, random));
      const double dx = side * random.uniform(40, 95);
      const double dy = random.uniform(60, 120);
      points.deltas.push_back(bentPoint(centreX + dx, centreY + dy, random));
      points.archHeight = random.uniform(10, 25);
      break;
    }
    case FingerClass::kWhorl: {
      const double gap = random.uniform(12, 36);
      const double tilt = random.uniform(-8, 8);
      points.cores.push_back(bentPoint(centreX - tilt, centreY - gap / 2, random));
      points.cores.push_back(bentPoint(centreX + tilt, centreY + gap / 2, random));
      const double leftX = centreX - random.uniform(60, 95), leftY = centreY + random.uniform(60, 100);
      points.deltas.push_back(bentPoint(leftX, leftY, random));
      const double rightX = centreX + random.uniform(60, 95), rightY = centreY + random.uniform(60, 100);
      points.deltas.push_back(bentPoint(rightX, rightY, random));
      points.archHeight = random.uniform(10, 25);
      break;
    }
  }
  return points;
}

namespace {

// The bend of a singular point at direction (c, s) = (cos a, sin a) from it, in
// doubled-angle radians.
double bendAt(const SingularPoint& point, Complex direction) {
  double bend = 0;
  Complex power = direction;
  for (size_t k = 0; k < point.sine.size(); ++k) {
    bend += point.sine[k] * power.im + point.cosine[k] * power.re;
    power = power * direction;
  }
  return bend;
}

}  // namespace

Grid<float> orientationField(const SingularPoints& points) {
  Grid<float> field(kFieldWidth, kFieldHeight);
  // Doubled angles add, so the zero-pole part of the field's doubled-angle vector
  // is the product of the unit vectors towards each core and the conjugate unit
  // vectors towards each delta; the bends, the arch, the rotation and the waves
  // add an angle. One arc tangent per pixel at the end.

  // The arch bend: ridges follow y = y0 - h(y0) exp(-(x - xc)^2 / 2w^2), whose
  // slope splits into a column factor and a row factor.
  std::vector<double> columnSlope(kFieldWidth);
  const double w2 = points.archWidth * points.archWidth;
  for (int column = 0; column < kFieldWidth; ++column) {
    const double dx = column * kFieldStep - points.archCentre.x;
    columnSlope[column] = dx / w2 * exponential(-dx * dx / (2 * w2));
  }

  // Each wave, cos(kx x + ky y + phase), split into column and row factors.
  const size_t waveCount = points.waves.size();
  std::vector<SineCosine> columnWave(waveCount * kFieldWidth), rowWave(waveCount * kFieldHeight);
  for (size_t k = 0; k < waveCount; ++k) {
    for (int column = 0; column < kFieldWidth; ++column)
      columnWave[k * kFieldWidth + column] = sineCosine(points.waves[k].kx * column * kFieldStep);
    for (int row = 0; row < kFieldHeight; ++row)
      rowWave[k * kFieldHeight + row] = sineCosine(points.waves[k].ky * row * kFieldStep + points.waves[k].phase);
  }

  for (int row = 0; row < kFieldHeight; ++row) {
    const int y = row * kFieldStep;
    // Full bend above the arch centre, none far below it.
    const double rowHeight = points.archHeight * smoothStep((points.archCentre.y + 140 - y) / 160.0);
    for (int column = 0; column < kFieldWidth; ++column) {
      const int x = column * kFieldStep;
      Complex v{1, 0};
      double extra = 2 * points.flowRotation;
      auto unitTowards = [&](const SingularPoint& point) {
        const double dx = x - point.at.x, dy = y - point.at.y;
        const double length = std::sqrt(dx * dx + dy * dy);
        return length > 0 ? Complex{dx / length, dy / length} : Complex{1, 0};
      };
      for (const SingularPoint& core : points.cores) {
        const Complex direction = unitTowards(core);
        v = v * direction;
        extra += bendAt(core, direction);
      }
      for (const SingularPoint& delta : points.deltas) {
        const Complex direction = unitTowards(delta);
        v = v * Complex{direction.re, -direction.im};
        extra -= bendAt(delta, direction);
      }
      const double slope = rowHeight * columnSlope[column];
      v = v * Complex{1 - slope * slope, 2 * slope};
      for (size_t k = 0; k < waveCount; ++k) {
        const SineCosine& across = columnWave[k * kFieldWidth + column];
        const SineCosine& down = rowWave[k * kFieldHeight + row];
        extra += 2 * points.waves[k].amplitude * (across.cosine * down.cosine - across.sine * down.sine);
      }
      const SineCosine turn = sineCosine(extra);
      v = v * Complex{turn.cosine, turn.sine};
      double angle = arcTangent2(v.im, v.re) / 2;
      if (angle < 0) angle += kPi;
      if (angle >= kPi) angle -= kPi;
      field.at(column, row) = static_cast<float>(angle);
    }
  }
  return field;
}

Grid<float> ridgePeriodMap(const SingularPoints& points, Random& random) {
  const double basePeriod = random.uniform(8.4, 10.2);
  double top = points.archCentre.y - 30;
  double bottom = points.archCentre.y + 110;
  for (const SingularPoint& core : points.cores) top = std::min(top, core.at.y);
  for (const SingularPoint& delta : points.deltas) bottom = std::max(bottom, delta.at.y);
  const double aboveGrowth = random.uniform(0.06, 0.14);
  const double belowGrowth = random.uniform(0.04, 0.12);

  // A slow swell along each axis, a few per cent.
  std::vector<double> columnSwell(kFieldWidth), rowSwell(kFieldHeight);
  const double columnAmplitude = random.uniform(0, 0.04), columnLength = random.uniform(200, 400);
  const double columnPhase = random.uniform(0, kTwoPi);
  const double rowAmplitude = random.uniform(0, 0.04), rowLength = random.uniform(250, 500);
  const double rowPhase = random.uniform(0, kTwoPi);
  for (int column = 0; column < kFieldWidth; ++column)
    columnSwell[column] = columnAmplitude * cosine(kTwoPi * column * kFieldStep / columnLength + columnPhase);
  for (int row = 0; row < kFieldHeight; ++row)
    rowSwell[row] = rowAmplitude * cosine(kTwoPi * row * kFieldStep / rowLength + rowPhase);

  Grid<float> periods(kFieldWidth, kFieldHeight);
  for (int row = 0; row < kFieldHeight; ++row) {
    const int y = row * kFieldStep;
    const double rowFactor =
        1 + aboveGrowth * smoothStep((top - y) / 90.0) + belowGrowth * smoothStep((y - bottom) / 90.0) + rowSwell[row];
    for (int column = 0; column < kFieldWidth; ++column)
      periods.at(column, row) = static_cast<float>(basePeriod * (rowFactor + columnSwell[column]));
  }
  return periods;
}

}  // namespace fx60::synth
