// Test helpers: a walk converted in-process at a fixed time in UTC, and walk lines built
// from their column, row and value.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "convert.h"
#include "file_text.h"
#include "report_text.h"

inline constexpr std::time_t kNow = 1700000000;  // 14.11.2023 22:13:20 in UTC
inline constexpr char kStamp[] = "14.11.2023 22:13:20\"}";
inline constexpr std::string_view kTable = "iso.3.6.1.2.1.2.2";

struct Converted {
  bool ok = false;  // the report was written
  std::string out;
  std::string err;  // the faults' messages, in order
};

// Converts `input` with `options` at kNow in UTC, through a buffer of `buffer` bytes at first.
inline Converted convert_with(std::string_view input, const ConvertOptions& options,
                              std::size_t buffer = kReadBuffer) {
  setenv("TZ", "UTC", 1);
  tzset();
  FILE* in = std::tmpfile();
  FILE* out = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  Converted result;
  result.ok = true;
  for (const Fault& fault : convert_walk(in, out, options, kNow, buffer)) {
    result.err += fault.message;
    if (!keeps_report(fault)) result.ok = false;
  }
  result.out = stream_text(out);
  std::fclose(in);
  std::fclose(out);
  return result;
}

inline Converted convert(std::string_view input, std::string_view prefix = kTable,
                         std::size_t max_rows = kDefaultMaxRows, std::size_t buffer = kReadBuffer) {
  ConvertOptions options;
  options.prefix = prefix;
  options.max_rows = max_rows;
  return convert_with(input, options, buffer);
}

inline std::string report(const std::vector<ReportRow>& rows, bool ifx = false) {
  return report_head(rows, ifx) + kStamp;
}

// An ifTable line "iso.3.6.1.2.1.2.2.1.<column>.<row> = <rest>\n".
inline std::string line(int column, const std::string& row, const std::string& rest) {
  return "iso.3.6.1.2.1.2.2.1." + std::to_string(column) + "." + row + " = " + rest + "\n";
}

inline std::string descr(int row, const std::string& name) {
  return line(2, std::to_string(row), "STRING: \"" + name + "\"");
}

// An ifXTable line "iso.3.6.1.2.1.31.1.1.1.<column>.<row> = <rest>\n".
inline std::string ifx_line(int column, const std::string& row, const std::string& rest) {
  return "iso.3.6.1.2.1.31.1.1.1." + std::to_string(column) + "." + row + " = " + rest + "\n";
}

inline ConvertOptions ifx_options(std::string_view descr_prefix = "en") {
  ConvertOptions options;
  options.ifx = true;
  options.descr_prefix = descr_prefix;
  return options;
}
