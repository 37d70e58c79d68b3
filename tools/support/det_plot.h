// The picture fx60 eval draws: DET curves (false non-match rate against false
// match rate, both on log axes) and the genuine and impostor score histograms,
// with the five security levels' thresholds, as SVG.
#pragma once

#include <string>
#include <vector>

namespace fx60::tool {

struct DetPoint {
  double fmr;
  double fnmr;
};

struct DetSeries {
  std::string name;
  std::vector<DetPoint> curve;
  std::vector<float> genuine;   // scores in [0, 1]
  std::vector<float> impostor;
  double eer = 0;               // a fraction
};

// The SVG text of the plot. `levelThresholds` are the scores (0 to 1) of levels 1 to 5.
std::string detPlotSvg(const std::vector<DetSeries>& series, const std::vector<double>& levelThresholds);

}  // namespace fx60::tool
