// SPDX-License-Identifier: MIT
// Period search tables drawn as chi-square against trial period.
#include "search_plot.hpp"

#include <map>

#include "io/header_fields.hpp"
#include "io/text_format.hpp"
#include "spectral_axis.hpp"

namespace iq {

namespace {

constexpr const char* kDetectedColour = "#c0392b";
constexpr const char* kRejectedColour = "#777777";
constexpr const char* kThresholdColour = "#2e7d32";

// The chi-square's column, and the trials drawn: a line over the periods, or a point for every
// trial over the DMs (the points of one DM stand in a column, the best of each on top).
std::string chi2_column(const PlotSettings& s) { return s.dm_trials ? "3" : "2"; }
std::string trials_plot(const PlotSettings& s, const std::string& data) {
  if (s.dm_trials) return data + ":3 with points ls 1 pt 7 ps 0.4 notitle";
  return data + ":2 with lines ls 1 notitle";
}

// The old picture: the largest chi-square marked, a line at the middle of its trials.
std::string plateau_commands(const PlotSettings& s, const std::string& data) {
  std::string file = "'";
  file += gnuplot_quoted(s.table);
  file += '\'';
  const std::string y = chi2_column(s);
  std::string script = "stats " + file + " using 1:" + y + " nooutput\nbest_chi2 = STATS_max_y\n";
  script += "stats " + file + " using ($" + y + " == best_chi2 ? $1 : NaN):" + y + " nooutput\n";
  script += "best_ms = (STATS_min_x + STATS_max_x) / 2\n";
  script += "set arrow from best_ms, graph 0 to best_ms, graph 1 nohead lc rgb '#c0392b' dt 2\n";
  script +=
      "set label sprintf('best %.10g ms', best_ms) at best_ms, graph 0.95 left offset 1,0 tc rgb '#c0392b'\n";
  script += "plot " + trials_plot(s, data) + ", " + data + ":($" + y + " == best_chi2 ? $" + y +
            " : NaN) with points pt 7 ps 1 lc rgb '#c0392b' title 'best'\n";
  return script;
}

// The best trial as cyclesearch names it, red for a detection and grey otherwise, labelled on
// the side of its line that has room, and the chi-square of the detection threshold as a line.
std::string verdict_commands(const PlotSettings& s, const std::string& data) {
  const SearchVerdict& v = *s.search;
  const std::string colour = v.detected ? kDetectedColour : kRejectedColour;
  const double best_x = s.dm_trials && v.best_dm ? *v.best_dm : v.best_period_ms;
  const std::string best = script_number(best_x);
  std::string script = "$best << EOD\n" + best + " " + script_number(v.best_chi2) + "\nEOD\n";
  script += "set arrow from " + best + ", graph 0 to " + best + ", graph 1 nohead lc rgb '" + colour + "' dt 2\n";
  const auto [low, high] = s.x_range.value_or(s.keys);
  const bool left = best_x > (low + high) / 2.0;
  std::string text = cformat(v.detected ? "best %.10g ms" : "highest chi-square, %.10g ms", v.best_period_ms);
  if (s.dm_trials && v.best_dm) text += cformat(" at DM %.4g", *v.best_dm);
  script += "set label '" + text + "' at " + best + ", graph 0.9 " +
            (left ? "right offset -1,0" : "left offset 1,0") + " tc rgb '" + colour + "'\n";
  script += "plot " + trials_plot(s, data) + ", $best with points pt 7 ps 1 lc rgb '" + colour + "' title '" +
            (v.detected ? "best trial" : "highest chi-square (no detection)") + "'";
  if (v.threshold_chi2) {
    script += ", " + script_number(*v.threshold_chi2) + " with lines lw 2 lc rgb '" + kThresholdColour +
              "' dt 2 title " + cformat("'detection threshold (%.2f sigma)'", v.threshold_sigma);
  }
  return script + "\n";
}

std::optional<SearchVerdict> search_verdict(const std::string& line) {
  if (line.compare(0, kSearchMark.size(), kSearchMark) != 0) return std::nullopt;
  std::map<std::string, std::string> values;
  for (const std::string& field : fields_of(line.substr(kSearchMark.size()))) {
    const auto equals = field.find('=');
    if (equals != std::string::npos) values[field.substr(0, equals)] = field.substr(equals + 1);
  }
  SearchVerdict v;
  const auto read = [&](const char* key, double& value) { return number_field(values[key], value); };
  if (!read("best_period_ms", v.best_period_ms) || !read("chi2", v.best_chi2) ||
      !read("significance_sigma", v.significance_sigma) || !read("threshold_sigma", v.threshold_sigma)) {
    return std::nullopt;
  }
  const std::string verdict = values["verdict"];
  if (verdict != "detected" && verdict != "no-detection") return std::nullopt;
  v.detected = verdict == "detected";
  double threshold_chi2 = 0.0;
  if (read("threshold_chi2", threshold_chi2)) v.threshold_chi2 = threshold_chi2;
  return v;
}

// The best DM of a search over dispersion measures: "# best_dm=D ...".
std::optional<double> best_dm(const std::vector<std::string>& comments) {
  constexpr std::string_view kMark = "# best_dm=";
  for (const std::string& comment : comments) {
    if (!comment.starts_with(kMark)) continue;
    const std::string rest = comment.substr(kMark.size());
    double dm = 0.0;
    if (number_field(rest.substr(0, rest.find(' ')), dm)) return dm;
  }
  return std::nullopt;
}

}  // namespace

std::optional<SearchVerdict> read_search_header(const std::vector<std::string>& comments) {
  for (const std::string& comment : comments) {
    if (auto verdict = search_verdict(comment)) {
      verdict->best_dm = best_dm(comments);
      return verdict;
    }
  }
  return std::nullopt;
}

std::string picture_title(const PlotSettings& s) {
  if (s.kind != TableKind::kSearch || !s.search) return s.title;
  return s.title + cformat(": %s, %.2f sigma (threshold %.2f)", s.search->detected ? "detected" : "no detection",
                           s.search->significance_sigma, s.search->threshold_sigma);
}

std::string search_plot_commands(const PlotSettings& s, const std::string& data, const std::string& x_label) {
  std::string script = axis_labels(x_label, "Chi-square against a flat profile") + "set key bottom right\n";
  script += "set xtics rotate by -30\n";
  return script + (s.search ? verdict_commands(s, data) : plateau_commands(s, data));
}

}  // namespace iq
