// SPDX-License-Identifier: MIT
// SigMF metadata beside a capture: written by the simulator, read by the analysis tools.
#include "io/capture_metadata.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "io/file_kind.hpp"
#include "io/output_file.hpp"
#include "io/tool_error.hpp"

namespace iq {

namespace {

using Json = nlohmann::json;

// A metadata file holding only a capture's description is a few hundred bytes; one with
// annotations may be large, but beyond this it is no metadata file worth reading.
constexpr std::size_t kMaxMetadataBytes = std::size_t{16} << 20;

constexpr const char* kDatatype = "cu8";

bool ends_with(const std::string& text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t days_from_civil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t year_of_era = year - era * 400;
  const std::int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + day_of_era - 719468;
}

int days_in_month(std::int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The number written by `count` decimal digits at text[at], or -1 when they are not digits.
int digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t k = at; k < at + count; ++k) {
    if (k >= text.size() || text[k] < '0' || text[k] > '9') return -1;
    value = value * 10 + (text[k] - '0');
  }
  return value;
}

// A field's value as the message quotes it, on one line.
std::string quoted_value(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

// Whether a layout field holds the value that the tools' reading assumes (absent: assumed).
bool holds_or_absent(const Json& object, const char* key, int expected) {
  const auto value = object.find(key);
  return value == object.end() || (value->is_number() && *value == expected);
}

// Why the global object describes samples laid out otherwise than the tools read them.
std::optional<std::string> global_layout_problem(const Json& global) {
  if (const auto type = global.find("core:datatype"); type != global.end()) {
    if (!type->is_string() || type->get_ref<const std::string&>() != kDatatype) {
      return "\"core:datatype\" is " + quoted_value(*type) +
             ": only cu8 captures (unsigned 8-bit I and Q) are read";
    }
  }
  if (!holds_or_absent(global, "core:num_channels", 1)) {
    return "\"core:num_channels\" is " + quoted_value(global["core:num_channels"]) +
           ": only captures of one channel are read";
  }
  if (!holds_or_absent(global, "core:trailing_bytes", 0)) {
    return "\"core:trailing_bytes\" is " + quoted_value(global["core:trailing_bytes"]) +
           ": only captures with nothing after their samples are read";
  }
  const auto extensions = global.find("core:extensions");
  if (extensions == global.end() || !extensions->is_array()) return std::nullopt;
  // No extension is known here: one that the file declares required cannot be honoured.
  for (const Json& extension : *extensions) {
    if (!extension.is_object()) continue;
    const auto optional = extension.find("optional");
    if (optional != extension.end() && optional->is_boolean() && !optional->get<bool>()) {
      const auto name = extension.find("name");
      return "\"core:extensions\" requires the extension " +
             (name == extension.end() ? std::string("without a name") : quoted_value(*name)) +
             ", which these tools do not know";
    }
  }
  return std::nullopt;
}

// Why the file describes samples laid out otherwise than the tools read them (a header before
// them, another format, several channels, ...), or nothing. Parts of the file that are not of
// the expected JSON kinds are left to structure_problem.
std::optional<std::string> layout_problem(const Json& root) {
  if (!root.is_object()) return std::nullopt;
  const auto global = root.find("global");
  if (global != root.end() && global->is_object()) {
    if (auto problem = global_layout_problem(*global)) return problem;
  }
  const auto captures = root.find("captures");
  if (captures == root.end() || !captures->is_array()) return std::nullopt;
  for (std::size_t k = 0; k < captures->size(); ++k) {
    const Json& segment = (*captures)[k];
    if (!segment.is_object()) continue;
    const std::string where = " of captures[" + std::to_string(k) + "] is ";
    if (!holds_or_absent(segment, "core:header_bytes", 0)) {
      return "\"core:header_bytes\"" + where + quoted_value(segment["core:header_bytes"]) +
             ": only captures without header bytes are read";
    }
    if (k == 0 && !holds_or_absent(segment, "core:sample_start", 0)) {
      return "\"core:sample_start\"" + where + quoted_value(segment["core:sample_start"]) +
             ": only captures whose samples start at their first byte are read";
    }
  }
  return std::nullopt;
}

// Why the file as a whole cannot be read as a capture's metadata, or nothing.
std::optional<std::string> structure_problem(const Json& root) {
  if (!root.is_object()) return "not a JSON object";
  const auto global = root.find("global");
  if (global == root.end() || !global->is_object()) return "no \"global\" object";
  if (const auto captures = root.find("captures"); captures != root.end()) {
    if (!captures->is_array()) return "\"captures\" is not an array";
    for (std::size_t k = 0; k < captures->size(); ++k) {
      if (!(*captures)[k].is_object()) return "captures[" + std::to_string(k) + "] is not an object";
    }
  }
  return layout_problem(root);
}

// The centre frequency of the whole capture: captures[0]'s, which no later segment may
// contradict. Adds the problem to `problems` and gives nothing when it cannot be used.
std::optional<double> centre_frequency(const Json& captures, std::vector<std::string>& problems) {
  std::optional<double> first;
  for (std::size_t k = 0; k < captures.size(); ++k) {
    const auto frequency = captures[k].find("core:frequency");
    if (frequency == captures[k].end()) continue;
    if (!frequency->is_number() || !(frequency->get<double>() >= 0.0) ||
        !std::isfinite(frequency->get<double>())) {
      problems.push_back("\"core:frequency\" of captures[" + std::to_string(k) +
                         "] is not a number of 0 Hz or more");
      return std::nullopt;
    }
    const double value = frequency->get<double>();
    // One centre serves the whole capture: segments tuned elsewhere contradict it.
    if (first && *first != value) {
      problems.push_back("captures[0] and captures[" + std::to_string(k) +
                         "] give different \"core:frequency\" values");
      return std::nullopt;
    }
    if (k == 0) first = value;
  }
  return first;
}

// A GeoJSON point {"type": "Point", "coordinates": [longitude, latitude(, altitude m)]} in
// the ranges a site is taken in; nothing for anything else.
std::optional<Geolocation> geolocation_point(const Json& value) {
  if (!value.is_object()) return std::nullopt;
  const auto type = value.find("type");
  const auto coordinates = value.find("coordinates");
  if (type == value.end() || *type != "Point" || coordinates == value.end() || !coordinates->is_array() ||
      coordinates->size() < 2 || coordinates->size() > 3) {
    return std::nullopt;
  }
  for (const Json& number : *coordinates) {
    if (!number.is_number() || !std::isfinite(number.get<double>())) return std::nullopt;
  }
  const Geolocation place{(*coordinates)[1].get<double>(), (*coordinates)[0].get<double>(),
                          coordinates->size() == 3 ? (*coordinates)[2].get<double>() : 0.0};
  return geolocation_in_range(place) ? std::optional(place) : std::nullopt;
}

// The pointing this toolkit writes: [RA, Dec] in degrees, within their ranges.
std::optional<SkyPointing> radec_pair(const Json& value) {
  if (!value.is_array() || value.size() != 2 || !value[0].is_number() || !value[1].is_number())
    return std::nullopt;
  const SkyPointing pointing{value[0].get<double>(), value[1].get<double>()};
  return pointing_in_range(pointing) ? std::optional(pointing) : std::nullopt;
}

// The fields of a well-formed file, each kept when it can be used; `problems` gets one line
// for each field that cannot.
CaptureMetadata usable_fields(const Json& root, std::vector<std::string>& problems) {
  CaptureMetadata meta;
  const Json& global = root["global"];
  if (const auto rate = global.find("core:sample_rate"); rate != global.end()) {
    if (rate->is_number() && rate->get<double>() > 0.0 && std::isfinite(rate->get<double>())) {
      meta.sample_rate_hz = rate->get<double>();
    } else {
      problems.emplace_back("\"core:sample_rate\" is not a number above 0");
    }
  }
  if (const auto place = global.find("core:geolocation"); place != global.end()) {
    meta.geolocation = geolocation_point(*place);
    if (!meta.geolocation) {
      problems.emplace_back(
          "\"core:geolocation\" is not a GeoJSON point [longitude, latitude(, altitude)] within -180 to 180 "
          "degrees east, -90 to 90 degrees north and -1000 to 10000 m");
    }
  }
  if (const auto radec = global.find("iqtools:radec"); radec != global.end()) {
    meta.pointing = radec_pair(*radec);
    if (!meta.pointing) {
      problems.emplace_back(
          "\"iqtools:radec\" is not [RA, Dec] within 0 to 360 (360 excluded) and -90 to 90 degrees");
    }
  }
  const auto captures = root.find("captures");
  if (captures == root.end() || captures->empty()) return meta;
  meta.centre_frequency_hz = centre_frequency(*captures, problems);
  const Json& first = (*captures)[0];
  if (const auto datetime = first.find("core:datetime"); datetime != first.end()) {
    meta.datetime_utc = datetime->is_string() ? datetime_as_utc(datetime->get<std::string>()) : std::nullopt;
    if (!meta.datetime_utc) {
      problems.emplace_back(
          "\"core:datetime\" of captures[0] is not a time like 2026-12-07T01:30:00Z "
          "(or with an offset like +01:00)");
    }
  }
  return meta;
}

// The file's bytes, or a problem: "" and true when the file does not exist.
struct FileText {
  bool missing = false;
  std::string text;
  std::string problem;
};

FileText read_small_file(const std::string& path) {
  FileText result;
  if (auto refusal = input_refusal(path)) {
    result.problem = std::move(*refusal);
    return result;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) {
      result.missing = true;
    } else {
      result.problem = system_error_text("cannot be opened", errno);
    }
    return result;
  }
  std::vector<char> block(65536);
  while (true) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      result.problem = system_error_text("cannot be read", errno);
      break;
    }
    if (got == 0) break;
    result.text.append(block.data(), static_cast<std::size_t>(got));
    if (result.text.size() > kMaxMetadataBytes) {
      result.problem = "larger than 16 MiB";
      break;
    }
  }
  ::close(fd);
  return result;
}

// The last component of a path: the file's name without its folder.
std::string file_name_of(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether the file describes another file than the capture `capture_path`: the dataset it
// names ("core:dataset"), which a SigMF reader takes before any other, is not the capture.
bool names_other_dataset(const Json& root, const std::string& capture_path) {
  if (!root.is_object() || !root.contains("global") || !root["global"].is_object()) return false;
  const Json& global = root["global"];
  const auto dataset = global.find("core:dataset");
  return dataset != global.end() && !(dataset->is_string() && *dataset == file_name_of(capture_path));
}

// A metadata file read and parsed: `missing` when there is none, else its JSON or the problem
// that keeps it from being read.
struct ParsedFile {
  bool missing = false;
  Json root;
  std::string problem;
};

ParsedFile parse_metadata_file(const std::string& path) {
  ParsedFile parsed;
  try {
    FileText file = read_small_file(path);
    parsed.missing = file.missing;
    parsed.problem = file.problem;
    if (file.missing || !file.problem.empty()) return parsed;
    // A key given twice in one object is a contradiction the JSON reader would otherwise
    // settle silently (the last one wins); the callback spots it while parsing.
    std::vector<std::set<std::string>> keys_seen;
    std::string repeated;
    const Json::parser_callback_t watch_keys = [&](int, Json::parse_event_t event, Json& value) {
      if (event == Json::parse_event_t::object_start) {
        keys_seen.emplace_back();
      } else if (event == Json::parse_event_t::object_end) {
        if (!keys_seen.empty()) keys_seen.pop_back();
      } else if (event == Json::parse_event_t::key && !keys_seen.empty()) {
        const auto& key = value.get_ref<const std::string&>();
        if (!keys_seen.back().insert(key).second && repeated.empty()) repeated = key;
      }
      return true;
    };
    parsed.root = Json::parse(file.text, watch_keys, false);
    if (parsed.root.is_discarded()) {
      parsed.problem = "not valid JSON";
    } else if (!repeated.empty()) {
      parsed.problem = "\"" + repeated + "\" appears twice in one object";
    }
  } catch (const std::exception&) {
    // Only an exhausted memory or a key of invalid text can land here; still not fatal.
    parsed.problem = "cannot be read";
  }
  return parsed;
}

// The message stays on one line whatever the file held.
std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string lower_case(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

bool geolocation_in_range(const Geolocation& place) {
  return place.latitude_deg >= -90.0 && place.latitude_deg <= 90.0 && place.longitude_deg >= -180.0 &&
         place.longitude_deg <= 180.0 && place.height_m >= kLeastHeightM && place.height_m <= kMostHeightM;
}

bool pointing_in_range(const SkyPointing& pointing) {
  return pointing.ra_deg >= 0.0 && pointing.ra_deg < 360.0 && pointing.dec_deg >= -90.0 &&
         pointing.dec_deg <= 90.0;
}

std::string metadata_path_for(const std::string& capture_path) {
  for (std::string_view suffix : {std::string_view(".bin"), std::string_view(".sigmf-data")}) {
    if (ends_with(capture_path, suffix)) {
      return capture_path.substr(0, capture_path.size() - suffix.size()) + ".sigmf-meta";
    }
  }
  return capture_path + ".sigmf-meta";
}

std::optional<std::string> not_a_capture_name(const std::string& path) {
  const std::string lower = lower_case(path);
  if (ends_with(lower, ".sigmf-meta")) return "a name ending in .sigmf-meta is SigMF metadata, not a capture";
  if (ends_with(lower, ".sigmf")) return "a name ending in .sigmf is a SigMF archive (a tar file), not a capture";
  return std::nullopt;
}

std::optional<std::string> capture_refusal(const std::string& capture_path) {
  if (auto refusal = not_a_capture_name(capture_path)) return refusal;
  const std::string path = metadata_path_for(capture_path);
  const ParsedFile parsed = parse_metadata_file(path);
  if (parsed.missing || !parsed.problem.empty() || names_other_dataset(parsed.root, capture_path)) {
    return std::nullopt;
  }
  if (auto problem = layout_problem(parsed.root)) return path + ": " + one_line(*problem);
  return std::nullopt;
}

CaptureMetadata read_capture_metadata(const std::string& capture_path, const std::string& tool,
                                      std::ostream& err) {
  if (capture_path == "-") return {};
  const std::string path = metadata_path_for(capture_path);
  const ParsedFile parsed = parse_metadata_file(path);
  if (parsed.missing) return {};
  std::optional<std::string> problem = parsed.problem;
  if (parsed.problem.empty()) problem = structure_problem(parsed.root);
  if (problem) {
    err << tool << ": " << path << ": " << one_line(*problem) << "; ignored\n";
    return {};
  }
  std::vector<std::string> problems;
  CaptureMetadata meta = usable_fields(parsed.root, problems);
  for (const std::string& field : problems)
    err << tool << ": " << path << ": " << field << "; that field is ignored\n";
  return meta;
}

void write_capture_metadata(const std::string& capture_path, const CaptureMetadata& meta) {
  if (meta.sample_rate_hz && !(*meta.sample_rate_hz > 0.0 && std::isfinite(*meta.sample_rate_hz))) {
    throw ToolError("metadata: the sample rate must be a number above 0");
  }
  if (meta.centre_frequency_hz &&
      !(*meta.centre_frequency_hz >= 0.0 && std::isfinite(*meta.centre_frequency_hz))) {
    throw ToolError("metadata: the centre frequency must be a number of 0 Hz or more");
  }
  if (meta.datetime_utc && !utc_datetime_seconds(*meta.datetime_utc)) {
    throw ToolError("metadata: the start time must be a UTC time like 2026-12-07T01:30:00Z");
  }
  if (meta.geolocation && !geolocation_in_range(*meta.geolocation)) {
    throw ToolError(
        "metadata: the site must lie within -90 to 90 degrees north, -180 to 180 east, -1000 to 10000 m");
  }
  if (meta.pointing && !pointing_in_range(*meta.pointing)) {
    throw ToolError("metadata: the pointing must lie within 0 to 360 (360 excluded) and -90 to 90 degrees");
  }
  // Written in a fixed key order (ordered_json) so that the same capture gives the same file.
  nlohmann::ordered_json global;
  global["core:datatype"] = kDatatype;
  if (meta.sample_rate_hz) global["core:sample_rate"] = *meta.sample_rate_hz;
  global["core:version"] = "1.0.0";
  // A SigMF reader finds the samples of "x.sigmf-meta" in "x.sigmf-data", or else in the file
  // this field names, in the metadata's own folder.
  if (!ends_with(capture_path, ".sigmf-data")) global["core:dataset"] = file_name_of(capture_path);
  if (const auto& place = meta.geolocation) {
    global["core:geolocation"] = {{"type", "Point"},
                                  {"coordinates", {place->longitude_deg, place->latitude_deg, place->height_m}}};
  }
  if (const auto& pointing = meta.pointing) {
    global["core:extensions"] =
        nlohmann::ordered_json::array({{{"name", "iqtools"}, {"version", "1.0.0"}, {"optional", true}}});
    global["iqtools:radec"] = {pointing->ra_deg, pointing->dec_deg};
  }
  nlohmann::ordered_json segment;
  segment["core:sample_start"] = 0;
  if (meta.centre_frequency_hz) segment["core:frequency"] = *meta.centre_frequency_hz;
  if (meta.datetime_utc) segment["core:datetime"] = *meta.datetime_utc;
  nlohmann::ordered_json root;
  root["global"] = global;
  root["captures"] = nlohmann::ordered_json::array({segment});
  root["annotations"] = nlohmann::ordered_json::array();
  OutputFile file(metadata_path_for(capture_path), {}, OutputKind::capture_metadata());
  file.write(root.dump(4) + "\n");
  file.commit();
}

std::optional<double> utc_datetime_seconds(std::string_view text) {
  // YYYY-MM-DDTHH:MM:SS, then an optional fraction, then Z.
  if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text.back() != 'Z') {
    return std::nullopt;
  }
  const int year = digits(text, 0, 4);
  const int month = digits(text, 5, 2);
  const int day = digits(text, 8, 2);
  const int hour = digits(text, 11, 2);
  const int minute = digits(text, 14, 2);
  const int second = digits(text, 17, 2);
  if (year < 0 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour < 0 ||
      hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 60) {
    return std::nullopt;
  }
  double fraction = 0.0;
  if (text.size() > 20) {
    // ".digits": read as the decimal fraction it writes, correctly rounded and independent of
    // the locale's decimal point.
    const std::string decimals = "0" + std::string(text.substr(19, text.size() - 20));
    if (text[19] != '.' || decimals.size() < 3) return std::nullopt;
    for (std::size_t k = 2; k < decimals.size(); ++k) {
      if (decimals[k] < '0' || decimals[k] > '9') return std::nullopt;
    }
    std::from_chars(decimals.data(), decimals.data() + decimals.size(), fraction);
  }
  const std::int64_t whole =
      days_from_civil(year, month, day) * 86400 + std::int64_t{hour} * 3600 + minute * 60 + second;
  return static_cast<double>(whole) + fraction;
}

std::optional<std::string> datetime_as_utc(std::string_view text) {
  if (text.size() < 20) return std::nullopt;
  if (text.back() == 'Z' || text.back() == 'z') {
    std::string utc(text);
    utc.back() = 'Z';
    return utc_datetime_seconds(utc) ? std::optional(utc) : std::nullopt;
  }
  // An offset east (+) or west (-) of UTC: "+HH:MM", which is taken away.
  const std::size_t zone = text.size() - 6;
  const int hours = digits(text, zone + 1, 2);
  const int minutes = digits(text, zone + 4, 2);
  if ((text[zone] != '+' && text[zone] != '-') || text[zone + 3] != ':' || hours < 0 || hours > 23 ||
      minutes < 0 || minutes > 59) {
    return std::nullopt;
  }
  const std::string local = std::string(text.substr(0, zone)) + "Z";
  const auto seconds = utc_datetime_seconds(local);
  if (!seconds) return std::nullopt;
  // The whole seconds move; the fraction, as written, stays.
  const std::int64_t offset = (text[zone] == '+' ? 1 : -1) * (hours * 3600 + minutes * 60);
  const auto whole = static_cast<std::int64_t>(*utc_datetime_seconds(local.substr(0, 19) + "Z"));
  std::string utc = utc_datetime_text(whole - offset);
  utc.insert(utc.size() - 1, local.substr(19, local.size() - 20));
  return utc;
}

std::string utc_datetime_text(std::int64_t seconds_since_1970) {
  std::int64_t days = seconds_since_1970 / 86400;
  std::int64_t rest = seconds_since_1970 % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  // Civil date from a day count (the inverse of days_from_civil).
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
  const std::int64_t day_of_era = shifted - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_index = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  auto two_digits = [](std::int64_t value) {
    return std::string(1, static_cast<char>('0' + value / 10)) + static_cast<char>('0' + value % 10);
  };
  std::string year_text = std::to_string(year);
  if (year_text.size() < 4) year_text.insert(0, 4 - year_text.size(), '0');
  return year_text + "-" + two_digits(month) + "-" + two_digits(day) + "T" + two_digits(rest / 3600) + ":" +
         two_digits(rest / 60 % 60) + ":" + two_digits(rest % 60) + "Z";
}

}  // namespace iq
