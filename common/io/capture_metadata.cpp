// SigMF metadata beside a capture: written by the simulator, read by the analysis tools.
#include "io/capture_metadata.hpp"

#include <fcntl.h>
#include <unistd.h>

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

// The first problem of a parsed metadata file, or "" when it describes a cu8 capture.
// Fills `meta` as it goes; the caller discards it on a problem.
std::string examine(const Json& root, CaptureMetadata& meta) {
  if (!root.is_object()) return "not a JSON object";
  const auto global = root.find("global");
  if (global == root.end() || !global->is_object()) return "no \"global\" object";
  if (const auto type = global->find("core:datatype"); type != global->end()) {
    if (!type->is_string()) return "\"core:datatype\" is not a text";
    if (type->get<std::string>() != kDatatype) {
      return "\"core:datatype\" is \"" + type->get<std::string>() + "\" but the capture is read as cu8";
    }
  }
  if (const auto rate = global->find("core:sample_rate"); rate != global->end()) {
    if (!rate->is_number() || !(rate->get<double>() > 0.0) || !std::isfinite(rate->get<double>())) {
      return "\"core:sample_rate\" is not a number above 0";
    }
    meta.sample_rate_hz = rate->get<double>();
  }
  const auto captures = root.find("captures");
  if (captures == root.end()) return "";
  if (!captures->is_array()) return "\"captures\" is not an array";
  std::optional<double> first_frequency;
  for (std::size_t k = 0; k < captures->size(); ++k) {
    const Json& segment = (*captures)[k];
    if (!segment.is_object()) return "captures[" + std::to_string(k) + "] is not an object";
    if (const auto frequency = segment.find("core:frequency"); frequency != segment.end()) {
      if (!frequency->is_number() || !(frequency->get<double>() >= 0.0) ||
          !std::isfinite(frequency->get<double>())) {
        return "\"core:frequency\" of captures[" + std::to_string(k) + "] is not a number of 0 Hz or more";
      }
      const double value = frequency->get<double>();
      // One centre serves the whole capture: segments tuned elsewhere contradict it.
      if (first_frequency && *first_frequency != value) {
        return "captures[0] and captures[" + std::to_string(k) + "] give different \"core:frequency\" values";
      }
      if (k == 0) first_frequency = value;
    }
    if (const auto datetime = segment.find("core:datetime"); datetime != segment.end()) {
      if (!datetime->is_string() || !utc_datetime_seconds(datetime->get<std::string>())) {
        return "\"core:datetime\" of captures[" + std::to_string(k) +
               "] is not a UTC time like 2026-12-07T01:30:00Z";
      }
      if (k == 0) meta.datetime_utc = datetime->get<std::string>();
    }
  }
  meta.centre_frequency_hz = first_frequency;
  return "";
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

}  // namespace

std::string metadata_path_for(const std::string& capture_path) {
  for (std::string_view suffix : {std::string_view(".bin"), std::string_view(".sigmf-data")}) {
    if (ends_with(capture_path, suffix)) {
      return capture_path.substr(0, capture_path.size() - suffix.size()) + ".sigmf-meta";
    }
  }
  return capture_path + ".sigmf-meta";
}

CaptureMetadata read_capture_metadata(const std::string& capture_path, const std::string& tool,
                                      std::ostream& err) {
  if (capture_path == "-") return {};
  const std::string path = metadata_path_for(capture_path);
  std::string problem;
  CaptureMetadata meta;
  try {
    FileText file = read_small_file(path);
    if (file.missing) return {};
    problem = file.problem;
    if (problem.empty()) {
      // A key given twice in one object is a contradiction the JSON reader would otherwise
      // settle silently (the last one wins); the callback spots it while parsing.
      std::vector<std::set<std::string>> keys_seen;
      std::string repeated;
      const Json::parser_callback_t watch_keys = [&](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) {
          keys_seen.emplace_back();
        } else if (event == Json::parse_event_t::object_end) {
          if (!keys_seen.empty()) keys_seen.pop_back();
        } else if (event == Json::parse_event_t::key && !keys_seen.empty()) {
          const auto& key = parsed.get_ref<const std::string&>();
          if (!keys_seen.back().insert(key).second && repeated.empty()) repeated = key;
        }
        return true;
      };
      const Json root = Json::parse(file.text, watch_keys, false);
      if (root.is_discarded()) {
        problem = "not valid JSON";
      } else if (!repeated.empty()) {
        problem = "\"" + repeated + "\" appears twice in one object";
      } else {
        problem = examine(root, meta);
      }
    }
  } catch (const std::exception& e) {
    // Only an exhausted memory or a key of invalid text can land here; still not fatal.
    problem = "cannot be read";
  }
  if (problem.empty()) return meta;
  // The message stays on one line whatever the file held.
  for (char& c : problem) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  err << tool << ": " << path << ": " << problem << "; ignored\n";
  return {};
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
  // Written in a fixed key order (ordered_json) so that the same capture gives the same file.
  nlohmann::ordered_json global;
  global["core:datatype"] = kDatatype;
  if (meta.sample_rate_hz) global["core:sample_rate"] = *meta.sample_rate_hz;
  global["core:version"] = "1.0.0";
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
