// Writes the benchmark's documents. The catalogue: shelves of books with titles, authors,
// subjects, prices, multi-line summaries and notes nested in sections a few levels deep.
// The journal: issues of articles whose names are namespace-qualified, whose text mixes
// inline elements with entity and character references, and whose elements nearly all
// carry attributes.
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

// Character data and attribute values for the journal: words mixed with the five entity
// references and with character references, decimal and hexadecimal.
constexpr const char* kReferences[] = {"&amp;",  "&lt;",   "&gt;",     "&quot;",
                                       "&apos;", "&#233;", "&#x2014;", "&#8217;",
                                       "&#xE9;", "&#169;", "&#x3B1;",  "&#8220;"};
constexpr const char* kInline[] = {"h:em", "h:strong", "h:code", "h:sup", "h:sub", "h:span"};
constexpr const char* kRoles[] = {"author", "editor", "translator", "reviewer"};
constexpr const char* kStatus[] = {"peer-reviewed", "editorial", "preprint", "erratum"};

struct JournalWriter : Writer {
  std::string id;  // the article being written

  // Words with a reference now and then.
  std::string prose(std::uint32_t count) {
    std::string text;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (i > 0) text += ' ';
      if (below(6) == 0) {
        text += pick(kReferences);
        if (below(2) == 0) text += pick(kWords);
      } else {
        text += pick(kWords);
      }
    }
    return text;
  }

  // A paragraph of mixed content: runs of text between inline elements, some nested.
  void paragraph(const char* name, const std::string& attributes) {
    line();
    buffer += '<';
    buffer += name;
    buffer += attributes;
    buffer += '>';
    const std::uint32_t runs = 2 + below(6);
    for (std::uint32_t i = 0; i < runs; ++i) {
      buffer += prose(3 + below(12));
      buffer += ' ';
      const std::uint32_t kind = below(8);
      if (kind == 0) {
        buffer += "<j:xref" + attribute("j:ref", id + "-r" + std::to_string(1 + below(20))) +
                  attribute("j:type", "bibr") + ">[" + std::to_string(1 + below(20)) + "]</j:xref>";
      } else if (kind == 1) {
        buffer += "<h:a" +
                  attribute("xlink:href", "https://example.org/" + std::string(pick(kWords)) +
                                              "?id=" + std::to_string(below(1000)) + "&amp;v=2") +
                  attribute("xlink:title", "see &quot;" + std::string(pick(kWords)) + "&quot;") +
                  '>' + prose(1 + below(3)) + "</h:a>";
      } else if (kind == 2) {
        buffer += "<h:em" + attribute("h:class", "term") + '>' + pick(kWords) + " <h:sub>" +
                  std::to_string(below(10)) + "</h:sub></h:em>";
      } else if (kind == 3) {
        buffer += "<h:br/>";
      } else {
        const char* tag = pick(kInline);
        buffer += '<';
        buffer += tag;
        if (below(3) > 0) buffer += attribute("h:class", pick(kSubjects));
        buffer += '>';
        buffer += prose(1 + below(4));
        buffer += "</";
        buffer += tag;
        buffer += '>';
      }
      buffer += ' ';
    }
    buffer += prose(2 + below(8));
    buffer += "</";
    buffer += name;
    buffer += '>';
  }

  // A section with a heading, paragraphs and, now and then, a table in the default
  // namespace or a subsection.
  void section(const std::string& section_id, int depth) {
    open("j:sec", attribute("j:id", section_id) + attribute("j:depth", std::to_string(depth)));
    leaf("h:h2", attribute("h:id", section_id + "-h"), prose(2 + below(5)));
    for (std::uint32_t n = 1 + below(4); n > 0; --n) {
      paragraph("h:p", attribute("h:class", below(3) ? "para" : "lead"));
    }
    if (below(6) == 0) {
      open("table", attribute("xmlns", "http://www.w3.org/1999/xhtml") +
                        attribute("class", "data") + attribute("summary", prose(3)));
      for (std::uint32_t row = 2 + below(4); row > 0; --row) {
        open("tr", attribute("class", row % 2 ? "odd" : "even"));
        for (int cell = 0; cell < 3; ++cell) {
          leaf("td", attribute("align", cell ? "right" : "left"),
               cell ? std::to_string(below(10000)) : prose(2));
        }
        close("tr");
      }
      close("table");
    }
    if (depth < 4 && below(3) == 0)
      section(section_id + '.' + std::to_string(depth + 1), depth + 1);
    close("j:sec");
  }

  void article(std::uint64_t number) {
    id = numbered("a", number);
    open("j:article", attribute("j:id", id) + attribute("xml:lang", pick(kLanguages)) +
                          attribute("j:pages", std::to_string(1 + below(200)) + "&#x2013;" +
                                                   std::to_string(201 + below(200))) +
                          attribute("j:status", pick(kStatus)));
    leaf("dc:title", attribute("j:short", prose(2)), prose(3 + below(8)));
    const std::uint32_t contributors = 1 + below(3);
    open("j:contributors", attribute("j:count", std::to_string(contributors)));
    for (std::uint32_t i = 0; i < contributors; ++i) {
      line();
      buffer += "<dc:creator" + attribute("j:role", pick(kRoles)) +
                attribute("j:orcid", "0000-000" + std::to_string(below(10)) + "-" +
                                         std::to_string(1000 + below(9000)) + "-0097") +
                "><h:span" + attribute("h:class", "given") + '>' + pick(kNames) +
                "</h:span> <h:span" + attribute("h:class", "family") + '>' + pick(kNames) +
                "son</h:span></dc:creator>";
    }
    close("j:contributors");
    open("j:abstract", attribute("xml:lang", "en"));
    paragraph("h:p", attribute("h:class", "abstract"));
    close("j:abstract");
    open("j:body", attribute("j:sections", "numbered"));
    for (std::uint32_t s = 1 + below(3); s > 0; --s) section(id + "-s" + std::to_string(s), 1);
    close("j:body");
    open("j:refs", attribute("j:style", "author-year"));
    for (std::uint32_t r = 1; r <= 2 + below(5); ++r) {
      line();
      buffer += "<j:ref" + attribute("j:id", id + "-r" + std::to_string(r)) +
                attribute("j:type", below(2) ? "journal" : "book") + "><dc:creator>" +
                pick(kNames) + " " + pick(kNames) + "son</dc:creator>, <h:em>" + prose(3) +
                "</h:em> (" + std::to_string(1950 + below(76)) + ")</j:ref>";
    }
    close("j:refs");
    close("j:article");
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

bool write_journal_document(FILE* out, std::size_t bytes) {
  JournalWriter w;
  w.buffer =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!-- A journal archive generated for the markup reader benchmark -->";
  w.open("j:archive", w.attribute("xmlns:j", "urn:example:journal") +
                          w.attribute("xmlns:dc", "http://purl.org/dc/elements/1.1/") +
                          w.attribute("xmlns:h", "http://www.w3.org/1999/xhtml") +
                          w.attribute("xmlns:xlink", "http://www.w3.org/1999/xlink") +
                          w.attribute("j:generated", "2026-01-01"));
  std::size_t written = 0;
  std::uint64_t number = 0;
  for (std::uint32_t volume = 1; written + w.buffer.size() < bytes; ++volume) {
    w.open("j:issue", w.attribute("j:volume", std::to_string(volume)) +
                          w.attribute("j:number", std::to_string(1 + w.below(4))) +
                          w.attribute("dc:date", numbered("19", 50 + w.below(50))));
    for (std::uint32_t n = 10 + w.below(30); n > 0 && written + w.buffer.size() < bytes; --n) {
      w.article(++number);
      if (w.buffer.size() > (1u << 20)) {
        if (std::fwrite(w.buffer.data(), 1, w.buffer.size(), out) != w.buffer.size()) {
          return false;
        }
        written += w.buffer.size();
        w.buffer.clear();
      }
    }
    w.close("j:issue");
  }
  w.close("j:archive");
  w.buffer += '\n';
  return std::fwrite(w.buffer.data(), 1, w.buffer.size(), out) == w.buffer.size();
}
