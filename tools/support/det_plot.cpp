#include "tools/support/det_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

namespace fx60::tool {

namespace {

constexpr const char* kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd",
                                    "#ff7f0e", "#8c564b", "#e377c2", "#17becf"};
constexpr double kPanelWidth = 420, kPanelHeight = 360, kLeft = 60, kTop = 30;
constexpr int kHistogramBins = 50;

// Rates from 1e-4 to 1 on a log axis, 0 to 1 across the panel.
double logPosition(double rate) { return std::log10(std::max(rate, 1e-4)) / 4 + 1; }

std::string percent(double fraction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", 100 * fraction);
  return text;
}

std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '&') out += "&amp;";
    else out += c;
  }
  return out;
}

void drawDetPanel(std::ostringstream& out, const std::vector<DetSeries>& series) {
  out << "<text x='" << kLeft << "' y='18' font-size='13'>DET: FNMR against FMR</text>\n";
  out << "<rect x='" << kLeft << "' y='" << kTop << "' width='" << kPanelWidth << "' height='" << kPanelHeight
      << "' fill='none' stroke='black'/>\n";
  for (int decade = 0; decade <= 4; ++decade) {
    const double rate = std::pow(10.0, -decade);
    const double x = kLeft + logPosition(rate) * kPanelWidth;
    const double y = kTop + (1 - logPosition(rate)) * kPanelHeight;
    out << "<line x1='" << x << "' y1='" << kTop << "' x2='" << x << "' y2='" << kTop + kPanelHeight
        << "' stroke='#ddd'/><text x='" << x - 10 << "' y='" << kTop + kPanelHeight + 14 << "'>" << rate * 100
        << "%</text>\n";
    out << "<line x1='" << kLeft << "' y1='" << y << "' x2='" << kLeft + kPanelWidth << "' y2='" << y
        << "' stroke='#ddd'/><text x='" << kLeft - 45 << "' y='" << y + 4 << "'>" << rate * 100 << "%</text>\n";
  }
  for (size_t s = 0; s < series.size(); ++s) {
    out << "<polyline fill='none' stroke='" << kColours[s % 8] << "' stroke-width='1.5' points='";
    for (const DetPoint& p : series[s].curve)
      out << kLeft + logPosition(p.fmr) * kPanelWidth << "," << kTop + (1 - logPosition(p.fnmr)) * kPanelHeight
          << " ";
    out << "'/>\n";
  }
}

void drawScorePanel(std::ostringstream& out, const std::vector<DetSeries>& series,
                    const std::vector<double>& levelThresholds) {
  const double left = 2 * kLeft + kPanelWidth + 20;
  const double bottom = kTop + kPanelHeight;
  out << "<text x='" << left << "' y='18' font-size='13'>Scores: genuine (solid), impostor (dashed)</text>\n";
  out << "<rect x='" << left << "' y='" << kTop << "' width='" << kPanelWidth << "' height='" << kPanelHeight
      << "' fill='none' stroke='black'/>\n";
  for (int tick = 0; tick <= 10; ++tick) {
    const double x = left + tick * kPanelWidth / 10;
    char label[8];
    std::snprintf(label, sizeof label, "%.1f", tick / 10.0);
    out << "<line class='tick' x1='" << x << "' y1='" << bottom << "' x2='" << x << "' y2='" << bottom + 5
        << "' stroke='black'/><text x='" << x - 8 << "' y='" << bottom + 17 << "'>" << label << "</text>\n";
  }
  for (size_t level = 0; level < levelThresholds.size(); ++level) {
    const double x = left + levelThresholds[level] * kPanelWidth;
    out << "<line class='level' x1='" << x << "' y1='" << kTop << "' x2='" << x << "' y2='" << bottom
        << "' stroke='#888' stroke-dasharray='2,3'/><text x='" << x + 2 << "' y='" << kTop + 12 + 12 * (level % 2)
        << "' fill='#555'>L" << level + 1 << " " << levelThresholds[level] << "</text>\n";
  }
  for (size_t s = 0; s < series.size(); ++s) {
    for (int kind = 0; kind < 2; ++kind) {
      const std::vector<float>& scores = kind == 0 ? series[s].genuine : series[s].impostor;
      std::vector<double> bins(kHistogramBins, 0);
      for (float v : scores) bins[std::clamp(static_cast<int>(v * kHistogramBins), 0, kHistogramBins - 1)] += 1;
      for (double& b : bins) b = scores.empty() ? 0 : b / scores.size();
      out << "<polyline fill='none' stroke='" << kColours[s % 8] << "'" << (kind ? " stroke-dasharray='4,3'" : "")
          << " points='";
      for (int b = 0; b < kHistogramBins; ++b)
        out << left + (b + 0.5) * kPanelWidth / kHistogramBins << "," << bottom - std::sqrt(bins[b]) * kPanelHeight
            << " ";
      out << "'/>\n";
    }
  }
  out << "<text x='" << left << "' y='" << bottom + 32
      << "'>score (heights: square root of the share; L1 to L5: the levels' thresholds)</text>\n";
}

}  // namespace

std::string detPlotSvg(const std::vector<DetSeries>& series, const std::vector<double>& levelThresholds) {
  std::ostringstream out;
  out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << 2 * kPanelWidth + 2 * kLeft + 40 << "' height='"
      << kPanelHeight + 2 * kTop + 36 + 24 * series.size() << "' font-family='sans-serif' font-size='11'>\n";
  out << "<rect x='0' y='0' width='100%' height='100%' fill='white'/>\n";
  drawDetPanel(out, series);
  drawScorePanel(out, series, levelThresholds);
  for (size_t s = 0; s < series.size(); ++s)
    out << "<text x='" << kLeft << "' y='" << kTop + kPanelHeight + 52 + 24 * s << "' fill='" << kColours[s % 8]
        << "'>" << escaped(series[s].name) << ": EER " << percent(series[s].eer) << ", " << series[s].genuine.size()
        << " genuine, " << series[s].impostor.size() << " impostor</text>\n";
  out << "</svg>\n";
  return out.str();
}

}  // namespace fx60::tool
