// Writes the benchmark's catalogue document: shelves of books with titles, authors,
// subjects, prices, multi-line summaries and notes nested in sections a few levels deep.
#include "markup_document.h"

#include <cstdint>
#include <random>
#include <string>

namespace {

constexpr const char* kWords[] = {
    "river",  "stone",   "light",  "garden", "winter", "harbour", "letters", "machine",
    "silver", "history", "quiet",  "north",  "signal", "orchard", "paper",   "engine",
    "city",   "memory",  "island", "forest", "glass",  "theory",  "voyage",  "market",
    "the",    "of",      "and",    "a",      "in",     "on",      "with",    "under",
};
constexpr const char* kNames[] = {"Ada",     "Brook", "Chen",  "Dara",  "Emil",  "Farah",
                                  "Goran",   "Hilde", "Ines",  "Jonas", "Keiko", "Luca",
                                  "Marisol", "Nadia", "Oskar", "Priya", "Quinn", "Rosa"};
constexpr const char* kSubjects[] = {"fiction",   "history",     "science", "travel", "poetry",
                                     "biography", "engineering", "cooking", "music"};
constexpr const char* kLanguages[] = {"en", "de", "fr", "es", "it", "ja", "nl", "pt"};

// The prefix and the number, built by appending (GCC 12 warns falsely about the
// literal-plus-string form).
std::string numbered(const char* prefix, std::uint64_t number) {
  std::string text(prefix);
  text += std::to_string(number);
  return text;
}

struct Writer {
  std::mt19937 random{20260101};
  std::string buffer;
  int indent = 0;

  std::uint32_t below(std::uint32_t n) {
    return random() % n;
  }

  template <std::size_t N>
  const char* pick(const char* const (&from)[N]) {
    return from[below(N)];
  }

  void line() {
    buffer += '\n';
    buffer.append(static_cast<std::size_t>(indent) * 2, ' ');
  }

  void words(std::uint32_t count, bool wrap) {
    for (std::uint32_t i = 0; i < count; ++i) {
      if (i > 0) {
        if (wrap && i % 12 == 0) {
          line();
        } else {
          buffer += ' ';
        }
      }
      buffer += pick(kWords);
    }
  }

  void open(const char* name, const std::string& attributes = "") {
    line();
    buffer += '<';
    buffer += name;
    buffer += attributes;
    buffer += '>';
    ++indent;
  }

  void close(const char* name, bool on_new_line = true) {
    --indent;
    if (on_new_line) line();
    buffer += "</";
    buffer += name;
    buffer += '>';
  }

  void leaf(const char* name, const std::string& attributes, const std::string& text) {
    line();
    buffer += '<';
    buffer += name;
    buffer += attributes;
    buffer += '>';
    buffer += text;
    buffer += "</";
    buffer += name;
    buffer += '>';
  }

  std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + value + '"';
  }

  std::string phrase(std::uint32_t count) {
    std::string saved;
    saved.swap(buffer);
    words(count, false);
    saved.swap(buffer);
    return saved;
  }

  void author() {
    open("author", attribute("role", below(4) ? "primary" : "editor"));
    leaf("name", "", std::string(pick(kNames)) + ' ' + pick(kNames) + "son");
    line();
    buffer += "<born" + attribute("year", std::to_string(1900 + below(100))) +
              attribute("place", phrase(1)) + "/>";
    close("author");
  }

  // Notes nested in sections, down to a depth of up to six levels.
  void section(int depth) {
    open("section",
         attribute("level", std::to_string(depth)) + attribute("title", phrase(2 + below(3))));
    const std::uint32_t notes = 1 + below(3);
    for (std::uint32_t i = 0; i < notes; ++i) {
      leaf("note",
           attribute("date", numbered("20", 10 + below(16)) + "-0" + std::to_string(1 + below(9)) +
                                 "-1" + std::to_string(below(10))),
           phrase(4 + below(20)));
    }
    if (depth < 6 && below(3) == 0) section(depth + 1);
    close("section");
  }

  void book(std::uint64_t id) {
    if (below(20) == 0) {
      line();
      buffer += "<!-- acquired " + phrase(3) + " -->";
    }
    open("book", attribute("id", numbered("b", id)) + attribute("lang", pick(kLanguages)) +
                     attribute("year", std::to_string(1800 + below(226))) +
                     attribute("format", below(2) ? "paperback" : "hardcover"));
    leaf("title", "", phrase(2 + below(5)));
    open("authors");
    for (std::uint32_t i = below(3); i <= 2; ++i) author();
    close("authors");
    open("subjects");
    for (std::uint32_t i = below(4); i <= 3; ++i) leaf("subject", "", pick(kSubjects));
    close("subjects");
    open("summary");
    line();
    words(30 + below(90), true);
    close("summary");
    leaf("price", attribute("currency", below(2) ? "EUR" : "USD"),
         std::to_string(5 + below(60)) + "." + std::to_string(10 + below(90)));
    if (below(4) == 0) section(1);
    close("book");
  }
};

}  // namespace

bool write_markup_document(FILE* out, std::size_t bytes) {
  Writer w;
  w.buffer =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!-- A catalogue generated for the markup reader benchmark -->";
  w.indent = 0;
  w.open("catalogue", w.attribute("generated", "2026-01-01") + w.attribute("source", "bench"));
  std::size_t written = 0;
  std::uint64_t id = 0;
  for (std::uint32_t shelf = 1; written + w.buffer.size() < bytes; ++shelf) {
    w.open("shelf", w.attribute("id", numbered("s", shelf)) + w.attribute("room", w.pick(kWords)) +
                        w.attribute("floor", std::to_string(w.below(5))));
    for (std::uint32_t n = 50 + w.below(150); n > 0 && written + w.buffer.size() < bytes; --n) {
      w.book(++id);
      if (w.buffer.size() > (1u << 20)) {
        if (std::fwrite(w.buffer.data(), 1, w.buffer.size(), out) != w.buffer.size()) {
          return false;
        }
        written += w.buffer.size();
        w.buffer.clear();
      }
    }
    w.close("shelf");
  }
  w.close("catalogue");
  w.buffer += '\n';
  return std::fwrite(w.buffer.data(), 1, w.buffer.size(), out) == w.buffer.size();
}
