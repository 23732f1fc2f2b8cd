// Shared pieces of the fuzz targets: capturing what a reader writes, reading back a
// number from a message, and stopping the run loudly when an oracle disagrees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

// A stream that keeps everything written to it in memory.
struct Capture {
  Capture() : file(open_memstream(&data, &size)) {
    if (!file) std::abort();
  }
  ~Capture() {
    if (file) std::fclose(file);
    std::free(data);
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  // Closes the stream and returns what was written to it.
  std::string take() {
    std::fclose(file);
    file = nullptr;
    return std::string(data, size);
  }

  char* data = nullptr;
  std::size_t size = 0;
  FILE* file;
};

// A finding: says which property broke and aborts, so that the fuzzer keeps the input.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "oracle failed: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "  detail (%zu bytes): ", detail.size());
    for (unsigned char c : detail.substr(0, 2000)) {
      if (c >= 0x20 && c < 0x7f) {
        std::fputc(c, stderr);
      } else {
        std::fprintf(stderr, "\\x%02x", c);
      }
    }
    std::fputc('\n', stderr);
  }
  std::abort();
}

inline void expect(bool ok, std::string_view what, std::string_view detail = {}) {
  if (!ok) fail(what, detail);
}

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// The decimal number that makes up all of `text` (no sign, no leading zero), or none.
inline std::optional<std::size_t> whole_number(std::string_view text) {
  if (text.empty() || text.size() > 18 || (text[0] == '0' && text.size() > 1)) return {};
  std::size_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return {};
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}
