// The first stages of a synthetic finger: its class and singular points, the ridge
// orientation field they induce, and the ridge period map. All maps cover the
// master canvas, the whole fingertip, of which each impression shows a part.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "synth/grid.h"
#include "synth/random.h"

namespace fx60::synth {

inline constexpr int kMasterWidth = 320;
inline constexpr int kMasterHeight = 480;

// The orientation and period maps hold one value per square of kFieldStep x
// kFieldStep master pixels (for the square's top-left pixel): both change slowly,
// and the ridge filters come in steps of several degrees anyway.
inline constexpr int kFieldStep = 2;
inline constexpr int kFieldWidth = kMasterWidth / kFieldStep;
inline constexpr int kFieldHeight = kMasterHeight / kFieldStep;

enum class FingerClass : uint8_t { kArch, kTentedArch, kLeftLoop, kRightLoop, kWhorl };

inline constexpr FingerClass kAllFingerClasses[] = {FingerClass::kArch, FingerClass::kTentedArch,
                                                    FingerClass::kLeftLoop, FingerClass::kRightLoop,
                                                    FingerClass::kWhorl};

// "arch", "tented-arch", "left-loop", "right-loop", "whorl".
std::string_view fingerClassName(FingerClass fingerClass);
std::optional<FingerClass> parseFingerClass(std::string_view name);

// A class drawn with the shares the classes have among real fingers (loops about
// two thirds, whorls a quarter, arches the rest).
FingerClass drawFingerClass(Random& random);

struct Point {
  double x = 0;
  double y = 0;
};

// A core or delta, and how it bends the flow: around a plain singular point the
// doubled ridge angle follows the angle a seen from it; here it follows
// a + sum over k of (sine[k] sin((k+1) a) + cosine[k] cos((k+1) a)), which widens,
// narrows or tilts a loop without changing its kind.
struct SingularPoint {
  Point at;
  std::array<double, 3> sine{};
  std::array<double, 3> cosine{};
};

// Where the ridge flow turns: cores (the loops' tips) and deltas, on the master
// canvas, plus the smooth part of the flow that singular points do not describe.
struct SingularPoints {
  std::vector<SingularPoint> cores;
  std::vector<SingularPoint> deltas;
  double flowRotation = 0;  // radians, turns the whole flow field
  Point archCentre;         // the ridges bend down on both sides of this column
  double archHeight = 0;    // pixels the ridges rise at archCentre
  double archWidth = 60;    // pixels, the spread of the bend
  // Slow waves that turn the flow a little, so that fingers of one class and
  // similar singular points still differ everywhere.
  struct Wave {
    double amplitude;  // radians
    double kx, ky;     // radians per pixel
    double phase;
  };
  std::vector<Wave> waves;
};

SingularPoints placeSingularPoints(FingerClass fingerClass, Random& random);

// Ridge orientation on the master canvas (kFieldWidth x kFieldHeight), radians in [0, pi),
// measured from the +x axis towards +y (image rows grow downwards). The zero-pole
// model (half the sum of the bent angles seen from each core, less half the sum
// seen from each delta), then the arch bend, the flow rotation and the slow waves.
Grid<float> orientationField(const SingularPoints& points);

// Local ridge period in pixels on the master canvas (kFieldWidth x kFieldHeight): a base period
// of the finger, wider above the upper core and below the lower delta, with a slow
// random swell.
Grid<float> ridgePeriodMap(const SingularPoints& points, Random& random);

}  // namespace fx60::synth
