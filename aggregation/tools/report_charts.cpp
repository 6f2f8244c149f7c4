#include "tools/report_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/csv_text.h"

namespace quax::agg::tools {

namespace {

// Okabe and Ito's palette, ordered so that neighbouring series differ in
// lightness; "others" is grey.
constexpr const char* kColours[] = {"#0072B2", "#E69F00", "#009E73", "#F0E442", "#D55E00", "#56B4E9", "#CC79A7"};
constexpr std::size_t kColourCount = std::size(kColours);
constexpr const char* kOthersColour = "#BBBBBB";
constexpr const char* kBarColour = "#0072B2";
constexpr const char* kLightColour = "#A6CEE3";
constexpr const char* kDecreaseColour = "#56B4E9";
constexpr const char* kIncreaseColour = "#D55E00";
constexpr std::size_t kMaxLabelBytes = 28;

constexpr int kChartWidth = 720;
constexpr int kLabelWidth = 200;
constexpr int kValueWidth = 150;
constexpr int kBarHeight = 18;
constexpr int kBarGap = 6;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

// A label cut to fit beside its bar; the whole text is in the bar's title.
std::string ShortLabel(std::string_view label) {
  if (label.size() <= kMaxLabelBytes) return HtmlText(label);
  return HtmlText(label.substr(0, kMaxLabelBytes - 3)) + "...";
}

std::string Title(std::string_view text) { return "<title>" + HtmlText(text) + "</title>"; }

std::string Rect(double x, double y, double width, double height, std::string_view fill) {
  return "<rect x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" width=\"" + Number(std::max(width, 0.0)) +
         "\" height=\"" + Number(height) + "\" fill=\"" + std::string(fill) + "\"/>";
}

std::string Text(double x, double y, std::string_view anchor, std::string_view html, std::string_view cssClass = "") {
  return "<text x=\"" + Number(x) + "\" y=\"" + Number(y) + "\" text-anchor=\"" + std::string(anchor) + "\"" +
         (cssClass.empty() ? "" : " class=\"" + std::string(cssClass) + "\"") + ">" + std::string(html) + "</text>";
}

std::string SvgStart(int width, int height, std::string_view caption) {
  return "<figure><svg class=\"chart\" role=\"img\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
         "\" aria-label=\"" + HtmlText(caption) + "\">";
}

std::string SvgEnd(std::string_view caption) { return "</svg><figcaption>" + HtmlText(caption) + "</figcaption></figure>\n"; }

// Whether a colour is light: its pattern is drawn dark, else light.
bool IsLight(std::size_t colour) { return colour == 1 || colour == 3 || colour == 5; }

}  // namespace

std::string HtmlText(std::string_view text) {
  std::string html;
  html.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': html += "&amp;"; break;
      case '<': html += "&lt;"; break;
      case '>': html += "&gt;"; break;
      case '"': html += "&quot;"; break;
      case '\'': html += "&#39;"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          html += "&#xFFFD;";
        } else {
          html += c;
        }
    }
  }
  return html;
}

std::string DisplayName(std::string_view name) { return name.empty() ? "(empty)" : SpreadsheetSafeText(name); }

std::string HtmlName(std::string_view name) { return HtmlText(DisplayName(name)); }

std::string WithThousands(std::string_view plainNumber) {
  const std::size_t signLength = plainNumber.starts_with('-') ? 1 : 0;
  const std::size_t point = std::min(plainNumber.find('.'), plainNumber.size());
  std::string grouped(plainNumber.substr(0, signLength));
  for (std::size_t i = signLength; i < point; ++i) {
    if (i > signLength && (point - i) % 3 == 0) grouped += ',';
    grouped += plainNumber[i];
  }
  grouped += plainNumber.substr(point);
  return grouped;
}

std::string ChartDefinitions() {
  // Series 0 is plain; the others add lines or dots at their own angle.
  static constexpr const char* kPatterns[] = {
      "",
      "<path d=\"M0,8 L8,0\" stroke-width=\"2\"/>",
      "<circle cx=\"4\" cy=\"4\" r=\"1.6\"/>",
      "<path d=\"M0,4 L8,4\" stroke-width=\"2\"/>",
      "<path d=\"M0,0 L8,8\" stroke-width=\"2\"/>",
      "<path d=\"M4,0 L4,8\" stroke-width=\"2\"/>",
      "<path d=\"M0,8 L8,0 M0,0 L8,8\" stroke-width=\"1.2\"/>",
  };
  static_assert(std::size(kPatterns) == kColourCount);
  std::string svg = "<svg class=\"definitions\" width=\"0\" height=\"0\" aria-hidden=\"true\"><defs>";
  for (std::size_t i = 0; i < kColourCount; ++i) {
    const char* ink = IsLight(i) ? "#333333" : "#FFFFFF";
    svg += "<pattern id=\"series" + std::to_string(i) +
           "\" width=\"8\" height=\"8\" patternUnits=\"userSpaceOnUse\">" + Rect(0, 0, 8, 8, kColours[i]) +
           "<g stroke=\"" + ink + "\" fill=\"" + ink + "\">" + kPatterns[i] + "</g></pattern>";
  }
  svg += "<pattern id=\"gap\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">" + Rect(0, 0, 6, 6, "#FFFFFF") +
         "<path d=\"M0,6 L6,0\" stroke=\"" + std::string(kIncreaseColour) + "\" stroke-width=\"1.5\"/></pattern>";
  svg += "<pattern id=\"decrease\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\">" +
         Rect(0, 0, 6, 6, kDecreaseColour) + "<path d=\"M0,6 L6,0\" stroke=\"#FFFFFF\" stroke-width=\"1.5\"/></pattern>";
  return svg + "</defs></svg>\n";
}

std::string SeriesFill(std::size_t index, bool others) {
  return others ? kOthersColour : "url(#series" + std::to_string(index % kColourCount) + ")";
}

std::string Legend(const std::vector<LegendEntry>& entries) {
  std::string html = "<ul class=\"legend\">";
  for (std::size_t i = 0; i < entries.size(); ++i) {
    html += "<li><svg width=\"14\" height=\"14\" aria-hidden=\"true\">" +
            Rect(0, 0, 14, 14, SeriesFill(i, entries[i].Others)) + "</svg>" + HtmlText(entries[i].Name) + "</li>";
  }
  return html + "</ul>\n";
}

std::string BarChart(const std::vector<ChartBar>& bars, std::string_view caption) {
  if (bars.empty()) return "";
  const int height = static_cast<int>(bars.size()) * (kBarHeight + kBarGap) + kBarGap;
  const double widest = std::ranges::max(bars, {}, &ChartBar::Value).Value;
  const double room = kChartWidth - kLabelWidth - kValueWidth;
  std::string svg = SvgStart(kChartWidth, height, caption);
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const ChartBar& bar = bars[i];
    const double y = kBarGap + static_cast<double>(i) * (kBarHeight + kBarGap);
    const double length = widest > 0 ? std::max(bar.Value, 0.0) / widest * room : 0;
    svg += "<g>" + Title(bar.Title) + Text(kLabelWidth - 6, y + 13, "end", ShortLabel(bar.Label)) +
           Rect(kLabelWidth, y, length, kBarHeight, bar.Others ? kOthersColour : kBarColour) +
           Text(kLabelWidth + length + 6, y + 13, "start", HtmlText(bar.ValueText)) + "</g>";
  }
  return svg + SvgEnd(caption);
}

std::string StackedColumnChart(const StackedColumns& chart, std::string_view caption) {
  constexpr int kPlotTop = 10;
  constexpr int kPlotHeight = 240;
  constexpr int kAxisWidth = 90;
  const std::size_t buckets = chart.BucketLabels.size();
  std::vector<double> heights(buckets, 0.0);
  for (const auto& series : chart.Stack) {
    for (std::size_t b = 0; b < buckets; ++b) heights[b] += std::max(series.Values[b], 0.0);
  }
  const double tallest = heights.empty() ? 0.0 : std::ranges::max(heights);
  const double columnWidth = static_cast<double>(kChartWidth - kAxisWidth - 10) / static_cast<double>(std::max<std::size_t>(buckets, 1));
  const std::size_t labelEvery = std::max<std::size_t>(1, static_cast<std::size_t>(std::ceil(34.0 / columnWidth)));
  std::string svg = SvgStart(kChartWidth, kPlotTop + kPlotHeight + 30, caption);
  // The scale: zero and the tallest column.
  svg += "<line x1=\"" + Number(kAxisWidth) + "\" y1=\"" + Number(kPlotTop + kPlotHeight) + "\" x2=\"" +
         Number(kChartWidth - 10) + "\" y2=\"" + Number(kPlotTop + kPlotHeight) + "\" stroke=\"#555555\"/>";
  svg += Text(kAxisWidth - 6, kPlotTop + kPlotHeight, "end", "0", "axis");
  if (tallest > 0) {
    char top[32];
    std::snprintf(top, sizeof top, "%.4g", tallest);
    svg += Text(kAxisWidth - 6, kPlotTop + 10, "end", HtmlText(WithThousands(top)) + " " + HtmlText(chart.Unit), "axis");
  }
  for (std::size_t b = 0; b < buckets; ++b) {
    const double x = kAxisWidth + static_cast<double>(b) * columnWidth;
    double base = kPlotTop + kPlotHeight;
    for (std::size_t s = 0; s < chart.Stack.size(); ++s) {
      const auto& series = chart.Stack[s];
      const double value = std::max(series.Values[b], 0.0);
      if (value <= 0 || tallest <= 0) continue;
      const double height = value / tallest * kPlotHeight;
      base -= height;
      svg += "<g>" + Title(chart.BucketTitles[b] + ", " + series.Name + ": " + series.ValueTexts[b] + " " + chart.Unit) +
             Rect(x + 1, base, std::max(columnWidth - 2, 1.0), height, SeriesFill(s, series.Others)) + "</g>";
    }
    if (b % labelEvery == 0) {
      svg += Text(x + columnWidth / 2, kPlotTop + kPlotHeight + 16, "middle", HtmlText(chart.BucketLabels[b]), "axis");
    }
  }
  return svg + SvgEnd(caption);
}

std::string PairedBarChart(const std::vector<PairedBar>& bars, std::string_view caption) {
  const int height = static_cast<int>(bars.size()) * (kBarHeight + kBarGap) + kBarGap;
  double widest = 0;
  for (const PairedBar& bar : bars) widest = std::max({widest, bar.Outer, bar.Inner});
  const double room = kChartWidth - kLabelWidth - kValueWidth - 60;
  const auto scaled = [&](double value) { return widest > 0 ? std::max(value, 0.0) / widest * room : 0.0; };
  std::string svg = SvgStart(kChartWidth, height, caption);
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const PairedBar& bar = bars[i];
    const double y = kBarGap + static_cast<double>(i) * (kBarHeight + kBarGap);
    const double outer = scaled(bar.Outer);
    svg += "<g>" + Title(bar.Title) + Text(kLabelWidth - 6, y + 13, "end", ShortLabel(bar.Label)) +
           Rect(kLabelWidth, y, outer, kBarHeight, kLightColour) +
           Rect(kLabelWidth, y + 4, scaled(bar.Inner), kBarHeight - 8, kBarColour) +
           Text(kLabelWidth + std::max(outer, scaled(bar.Inner)) + 6, y + 13, "start", HtmlText(bar.Text)) + "</g>";
  }
  return svg + SvgEnd(caption);
}

std::string ChangeChart(const std::vector<ChartBar>& bars, std::string_view caption) {
  const int height = static_cast<int>(bars.size()) * (kBarHeight + kBarGap) + kBarGap;
  double widest = 0;
  for (const ChartBar& bar : bars) widest = std::max(widest, std::fabs(bar.Value));
  const double half = (kChartWidth - kLabelWidth - 2.0 * kValueWidth) / 2.0;
  const double zero = kLabelWidth + kValueWidth + half;
  std::string svg = SvgStart(kChartWidth, height, caption);
  svg += "<line x1=\"" + Number(zero) + "\" y1=\"0\" x2=\"" + Number(zero) + "\" y2=\"" + Number(height) +
         "\" stroke=\"#555555\"/>";
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const ChartBar& bar = bars[i];
    const double y = kBarGap + static_cast<double>(i) * (kBarHeight + kBarGap);
    const double length = widest > 0 ? std::fabs(bar.Value) / widest * half : 0;
    const bool increase = bar.Value >= 0;
    svg += "<g>" + Title(bar.Title) + Text(kLabelWidth - 6, y + 13, "end", ShortLabel(bar.Label)) +
           Rect(increase ? zero : zero - length, y, length, kBarHeight, increase ? kIncreaseColour : "url(#decrease)") +
           Text(increase ? zero + length + 6 : zero - length - 6, y + 13, increase ? "start" : "end",
                HtmlText(bar.ValueText)) +
           "</g>";
  }
  return svg + SvgEnd(caption);
}

std::string CoverageStrip(std::int32_t first, std::int32_t last, const std::vector<DayRun>& covered,
                          std::string_view caption) {
  constexpr int kHeight = 16;
  const double days = static_cast<double>(last) - first + 1;
  const double room = kChartWidth - kLabelWidth - kValueWidth;
  std::string svg = "<svg class=\"strip\" role=\"img\" width=\"" + Number(room + 2) + "\" height=\"" +
                    std::to_string(kHeight) + "\" aria-label=\"" + HtmlText(caption) + "\">" + Title(caption) +
                    Rect(1, 0, room, kHeight, "url(#gap)");
  // Runs closer than a pixel are drawn as one, so the strip stays small
  // whatever the number of runs.
  double drawnTo = -1;
  for (const DayRun& run : covered) {
    const double x = 1 + (run.First - first) / days * room;
    const double end = 1 + (run.Last - first + 1) / days * room;
    if (x < drawnTo + 1 && end <= drawnTo) continue;
    svg += Rect(x, 0, std::max(end - x, 1.0), kHeight, kBarColour);
    drawnTo = end;
  }
  return svg + "</svg>";
}

}  // namespace quax::agg::tools
