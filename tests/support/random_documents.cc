// The generator of well-formed XML documents.
#include "random_documents.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

namespace {

struct Draw {
  std::mt19937& random;
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>(random() % n);
  }
  bool chance(std::uint32_t percent) {
    return below(100) < percent;
  }
  template <std::size_t N>
  std::string_view pick(const std::string_view (&from)[N]) {
    return from[below(N)];
  }
  char pick_byte(std::string_view from) {
    return from[below(static_cast<std::uint32_t>(from.size()))];
  }

  std::string name() {
    static constexpr std::string_view kStarts[] = {"a", "b", "z", "_", "A", "é", "名", "Ω"};
    std::string n(pick(kStarts));
    for (std::uint32_t i = below(6); i > 0; --i) n += pick_byte("abcxyz0189._-");
    if (chance(15)) n = std::string(chance(50) ? "p:" : "q:") + n;
    return n;
  }

  std::string reference() {
    static constexpr std::string_view kReferences[] = {
        "&amp;",      "&lt;",   "&gt;",   "&quot;",   "&apos;",    "&#65;",
        "&#x3c;",     "&#x3E;", "&#233;", "&#x20AC;", "&#x1F600;", "&#0000038;",
        "&#x10FFFF;", "&#32;",  "&#9;",   "&#xA;",    "&#13;",     "&#xD7FF;"};
    return std::string(pick(kReferences));
  }

  // Character data, or an attribute value when `quote` is given.
  std::string text(char quote) {
    static constexpr std::string_view kPieces[] = {
        "word", "x", " ",  "  ", "\t", "\n", "\r\n", "\r", ">",   "]",
        "]]",   "'", "\"", "/",  "=",  "é",  "€",    "😀",  "a\\", "C:\\build\\"};
    std::string t;
    for (std::uint32_t i = below(8); i > 0; --i) {
      std::string piece(pick(kPieces));
      if (chance(20)) piece = reference();
      if (!quote && piece == "]]") piece = "] ]";
      if (piece.size() == 1 && piece[0] == quote) piece = quote == '"' ? "&quot;" : "&apos;";
      if (!quote && !t.empty() && t.back() == ']' && piece == ">") piece = "&gt;";
      t += piece;
    }
    // Character data written next to this must not make `]]>` with it.
    if (!quote && !t.empty() && t.back() == ']') t += '.';
    return t;
  }

  std::string blank() {
    static constexpr std::string_view kBlanks[] = {"", "\n", "\n  ", "\r\n\t", " "};
    return std::string(pick(kBlanks));
  }
};

}  // namespace

std::string XmlDocumentGenerator::document() {
  Draw d{random};
  std::string doc;
  if (d.chance(50)) {
    doc += d.chance(50) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                        : "<?xml version='1.0' standalone='yes' ?>";
    doc += d.blank();
  }
  if (d.chance(20)) doc += "<!-- prolog comment -->" + d.blank();
  if (d.chance(20)) doc += "<?style href=\"a.xsl\"?>" + d.blank();
  std::vector<std::string> open;
  if (d.chance(15)) {
    doc += "<!DOCTYPE root SYSTEM \"root.dtd\">" + d.blank();
  }
  std::uint32_t elements = 1 + d.below(60);
  do {
    const std::uint32_t what = d.below(100);
    if (!open.empty() && (what < 25 || elements == 0)) {
      doc += "</" + open.back() + (d.chance(10) ? "\n>" : ">");
      open.pop_back();
    } else if (!open.empty() && what < 45) {
      doc += d.text(0);
    } else if (!open.empty() && what < 50) {
      doc += d.blank();
    } else if (!open.empty() && what < 55) {
      doc += "<![CDATA[" + d.text(0) + "<&]]]>";
    } else if (!open.empty() && what < 60) {
      doc += "<!--" + d.text(0) + "- <b>-->";
    } else if (!open.empty() && what < 63) {
      doc += "<?pi " + d.text(0) + "?>";
    } else if (elements > 0) {
      --elements;
      const std::string element = d.name();
      doc += '<' + element;
      std::vector<std::string> used;
      if (open.empty()) {
        doc += " xmlns:p=\"urn:example:p\" xmlns:q='urn:example:q'";
        used = {"xmlns:p", "xmlns:q"};
      }
      for (std::uint32_t n = d.below(4); n > 0; --n) {
        const std::string attribute = d.name();
        if (std::find(used.begin(), used.end(), attribute) != used.end()) continue;
        used.push_back(attribute);
        const char quote = d.chance(50) ? '"' : '\'';
        doc += d.pick_byte(" \n\t") + attribute + (d.chance(10) ? " = " : "=") + quote +
               d.text(quote) + quote;
      }
      if (d.chance(25)) {
        doc += d.chance(50) ? "/>" : " />";
        if (open.empty()) break;
      } else {
        doc += d.chance(10) ? " >" : ">";
        open.push_back(element);
      }
    }
  } while (!open.empty());
  if (d.chance(30)) doc += d.blank() + "<!-- end -->" + d.blank();
  return doc;
}
