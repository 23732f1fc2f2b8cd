// Random markup documents for the tests, the fuzz targets' seeds and the benchmarks: each
// generator is deterministic for its seed, the same on every platform.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// Inputs for the default reading: documents that are mostly well formed, with every
// kind of markup it knows; the same damaged; and noise.
struct MarkupDocumentGenerator {
  std::mt19937 random;
  std::uint32_t below(std::uint32_t n) {
    return random() % n;
  }
  bool chance(std::uint32_t percent) {
    return below(100) < percent;
  }
  char pick(std::string_view from) {
    return from[below(static_cast<std::uint32_t>(from.size()))];
  }

  std::string word() {
    std::string w(1 + below(6), ' ');
    for (char& c : w) c = pick("abcdefxyz_:.0123456789");
    return w;
  }

  // Text with runs of white space and, now and then, a line far longer than 255.
  // Quotes and backslashes come only now and then, as they may end a value early.
  std::string text() {
    std::string t;
    const bool long_line = chance(8);
    const std::uint32_t words = long_line ? 60 + below(200) : below(6);
    for (std::uint32_t i = 0; i < words; ++i) {
      t += word();
      if (chance(2)) {
        t += pick("\"\\");
      } else {
        t += long_line ? pick("  \t=/?!") : pick("  \t\n\r=/?!");
      }
    }
    return t;
  }

  // A document that is mostly well formed, with every kind of markup the reader knows.
  std::string document() {
    std::string doc = chance(50) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    std::vector<std::string> open;
    const std::uint32_t steps = 1 + below(60);
    for (std::uint32_t i = 0; i < steps; ++i) {
      switch (below(8)) {
        case 0:
        case 1: {
          const std::string name = word();
          doc += '<' + name;
          for (std::uint32_t n = below(4); n > 0; --n) {
            // Mostly sound values: a stray quote or a final backslash would end them early.
            std::string value = text();
            if (chance(90)) std::erase(value, '"');
            while (chance(90) && !value.empty() && value.back() == '\\') value.pop_back();
            doc += pick(" \n\t") + word() + (chance(90) ? "=\"" : " = \"") + value + '"';
          }
          if (chance(25)) {
            doc += chance(50) ? "/>" : " />";
          } else {
            doc += '>';
            open.push_back(name);
          }
          break;
        }
        case 2:
        case 3:
          if (!open.empty()) {
            doc += "</" + open.back() + (chance(10) ? " >" : ">");
            open.pop_back();
          }
          break;
        case 4:
        case 5:
          doc += text();
          break;
        case 6:
          doc += "<!--" + text() + (chance(50) ? "--" : "---") + ">";
          break;
        default:
          doc += "<?" + word() + " a=\"" + word() + "\"" + (chance(90) ? "?>" : "/>");
          break;
      }
    }
    while (!open.empty() && chance(99)) {
      doc += "</" + open.back() + ">";
      open.pop_back();
    }
    return doc;
  }

  // A few characters changed, so that faults turn up at every kind of position.
  std::string damaged(std::string doc) {
    for (std::uint32_t n = 1 + below(3); n > 0 && !doc.empty(); --n) {
      const std::size_t at = below(static_cast<std::uint32_t>(doc.size()));
      switch (below(3)) {
        case 0:
          doc.erase(at, 1);
          break;
        case 1:
          doc.insert(at, 1, pick("<>\"=/-!? \n"));
          break;
        default:
          doc[at] = pick("<>\"=/-!? \n\\");
          break;
      }
    }
    return doc;
  }

  // Any bytes but NUL, weighted towards the markup characters.
  std::string noise() {
    std::string s(1 + below(700), ' ');
    for (char& c : s) {
      c = chance(70) ? pick("<>=\"/-!? \n\t\r\\ab") : static_cast<char>(1 + below(255));
    }
    return s;
  }
};

// Well-formed documents of the kind both readers define alike: double-quoted attribute
// values without a final backslash, and no `>` in character data.
struct PlainXmlDocumentGenerator {
  std::mt19937 random;
  bool references = false;  // entity and character references in text and values
  std::uint32_t below(std::uint32_t n) {
    return random() % n;
  }
  bool chance(std::uint32_t percent) {
    return below(100) < percent;
  }
  char pick(std::string_view from) {
    return from[below(static_cast<std::uint32_t>(from.size()))];
  }

  std::string name() {
    std::string n(1, pick("abcdefghijklmnopqrstuvwxyz_"));
    for (std::uint32_t i = below(8); i > 0; --i)
      n += pick("abcdefghijklmnopqrstuvwxyz0123456789._-");
    return chance(10) ? "p:" + n : n;
  }

  // Words and white space; `extra` adds the characters allowed in this context.
  std::string words(std::string_view extra, bool long_line) {
    std::string t;
    for (std::uint32_t i = long_line ? 80 + below(100) : below(5); i > 0; --i) {
      if (chance(30)) t += pick(" \t\n  ");
      for (std::uint32_t n = 1 + below(7); n > 0; --n) t += pick("abcxyzABC0189.,;:!?'()");
      if (references && chance(30)) t += reference();
      t += chance(20) ? pick(extra) : ' ';
    }
    return t;
  }

  // A reference to a character that is not white space, which both readers would fold
  // differently.
  std::string reference() {
    static constexpr std::string_view kReferences[] = {
        "&amp;",     "&lt;",       "&gt;",       "&quot;",   "&apos;",
        "&#65;",     "&#x3c;",     "&#x3E;",     "&#233;",   "&#x20AC;",
        "&#x1F600;", "&#0000038;", "&#x10FFFF;", "&#xD7FF;", "&#127;"};
    return std::string(kReferences[below(std::size(kReferences))]);
  }

  std::string document() {
    std::string doc;
    if (chance(70)) doc += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (chance(20)) doc += "<?xml-stylesheet type=\"text/xsl\" href=\"style.xsl\"?>\n";
    if (chance(30)) doc += "<!-- " + words("=/\"", false) + " -->\n";
    std::vector<std::string> open;
    std::uint32_t elements = 1 + below(200);
    do {
      if (!open.empty() && (chance(35) || elements == 0)) {
        doc += "</" + open.back() + (chance(10) ? "\n>" : ">");
        open.pop_back();
      } else if (!open.empty() && chance(30)) {
        doc += words("=/\"\t\n", chance(5));
      } else if (!open.empty() && chance(10)) {
        doc += "<!--" + words("=/\"<>", chance(5)) + "-->";
      } else if (elements > 0) {
        --elements;
        const std::string element = name();
        doc += '<' + element;
        if (open.empty()) doc += " xmlns:p=\"urn:example:p\"";
        std::vector<std::string> used;
        for (std::uint32_t n = below(4); n > 0; --n) {
          const std::string attribute = name();
          if (attribute.starts_with("p:") ||
              std::find(used.begin(), used.end(), attribute) != used.end()) {
            continue;
          }
          used.push_back(attribute);
          doc += pick(" \n\t") + attribute + "=\"" + words("=/>'", chance(3)) + '"';
        }
        if (!open.empty() && chance(25)) {
          doc += chance(50) ? "/>" : " />";
        } else {
          doc += '>';
          open.push_back(element);
        }
      }
    } while (!open.empty());
    if (chance(30)) doc += "\n<!-- end -->\n";
    return doc;
  }
};

// Well-formed XML documents: namespaces, entity and character references, CDATA
// sections, comments, processing instructions, mixed content, both quote kinds, line
// ends of every kind and characters past ASCII.
struct XmlDocumentGenerator {
  std::mt19937 random;
  std::string document();
};
