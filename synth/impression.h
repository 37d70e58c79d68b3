// One impression of a master fingerprint on the sensor: where the finger lies and
// how it is turned, how the skin stretches, how hard it presses, which part
// touches, and the noise and background of the picture.
#pragma once

#include <cstdint>
#include <vector>

#include "synth/finger_pattern.h"
#include "synth/grid.h"
#include "synth/random.h"
#include "synth/ridge_growth.h"

namespace fx60::synth {

inline constexpr int kImageWidth = 256;
inline constexpr int kImageHeight = 360;

// The rigid placement and the skin's stretch.
struct Placement {
  double rotation = 0;      // radians, the finger turned on the sensor
  Point fingerAtCentre;     // master point that lands on the image centre
  Point drag;               // pixels the outer skin is pulled by friction
  double twist = 0;         // radians the outer skin is turned by friction
  double stretchX = 0;      // the outer skin stretched (+) or squeezed (-) across,
  double stretchY = 0;      // along the finger,
  double shear = 0;         // and sheared, as shares of the distance from the centre
  double innerRadius = 0.4; // share of the contact radius that does not stretch
};

// The fingertip's outline on the master: no skin beyond it.
struct Outline {
  Point centre;
  double halfWidth = 150;
  double halfHeight = 260;
};

// The part of the finger that touches the sensor: the pressed area, an ellipse
// on the sensor with an irregular rim, inside the fingertip's outline, and
// optionally cut by a straight edge where the finger was tilted off the sensor.
struct Contact {
  Point centre;                // sensor pixels
  double halfWidth = 130;
  double halfHeight = 180;
  double rimRoughness = 0.05;  // share of the radius
  double gaps = 0;             // 0 .. 0.3: patches inside that did not touch
  Outline fingertip;           // master pixels
  bool cut = false;
  Point cutNormal;             // unit vector out of the contact, sensor pixels
  double cutDistance = 0;      // from the contact centre along the normal
};

// Skin and sensor: pressure sets the ridge width (dry and light, or wet and
// heavy), the rest the blemishes and the picture's levels.
struct Rendering {
  double pressure = 0;       // -1 dry and light .. +1 wet and heavy
  double unevenness = 0;     // how much the pressure varies in patches
  double dryness = 0;        // share of ridge broken up
  double wetness = 0;        // share of valleys smudged
  double ridgeGrey = 50;     // grey of a ridge in full contact
  double valleyGrey = 200;   // grey between ridges
  double backgroundGrey = 230;
  double shading = 0;        // grey levels of a slow light fall-off across the picture
  double sensorNoise = 3;    // deviation of the pixel noise, grey levels
  int blurPasses = 1;        // of a 3 x 3 binomial filter
};

struct ImpressionRecipe {
  Placement placement;
  Contact contact;
  Rendering rendering;
  uint64_t noiseSeed = 0;
};

// An impression's settings drawn at random. The pad centre is the master point
// that lands on the image centre on average.
ImpressionRecipe drawImpression(Point padCentre, const Outline& fingertip, Random& random);

// For every image pixel, the master point it shows.
Grid<Point> placeOnSensor(const Placement& placement, const Contact& contact);

// The master's ridges at the placed points (bilinear; 0 outside the master).
Grid<float> sampleRidges(const RidgePattern& master, const Grid<Point>& sources);

// How firmly each pixel touches: 1 inside the contact region, 0 outside, a soft
// rim of a few pixels between.
Grid<float> contactRegion(const Contact& contact, const Grid<Point>& sources, Random& random);

// Ridge ink 0..1 from the ridge picture: pressure, uneven in patches, moves the
// ink threshold.
Grid<float> ridgeInk(const Grid<float>& ridges, const Rendering& rendering, Random& random);

// Pressure as ridge thickness: grey dilation (wet, heavy) or erosion (dry, light)
// with a 3 x 3 cross, in fractional steps.
Grid<float> applyPressure(const Grid<float>& ink, double pressure);

// Dry skin breaks ridges into pieces, wet skin smudges valleys.
Grid<float> addSkinNoise(const Grid<float>& ink, const Rendering& rendering, Random& random);

// The picture: background, ridges where the finger touches, a slight blur of the
// optics and pixel noise; 8-bit grey.
std::vector<uint8_t> composeImage(const Grid<float>& ink, const Grid<float>& contact, const Rendering& rendering,
                                  Random& random);

// All impression stages in order.
std::vector<uint8_t> renderImpression(const RidgePattern& master, const ImpressionRecipe& recipe);

// Random values on a lattice `cell` pixels apart, interpolated smoothly between:
// noise in [0, 1) with features of about that size.
Grid<float> valueNoise(int width, int height, int cell, Random& random);

}  // namespace fx60::synth
