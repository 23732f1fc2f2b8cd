// Builds and releases one tree from a markup file, once, so that its wall time and peak
// memory can be measured from outside (bench/markup-vs-xmllint runs it under
// run_measured): the file is read, the tree built and released, and nothing else. The
// readers, each with its default options:
//   text     the markup reader's whole-text entry, reading the file into memory first
//   stream   the markup reader's stream entry on the open file
//   text-decoded  the whole-text entry with references decoded and the byte order mark
//            read, as pugixml's parse_default decodes them
//   xml      the whole-text entry with the XML reading
//   xml-stream    the stream entry with the XML reading
//   pugixml  pugixml's load_file with parse_default (only where the build found pugixml,
//            a benchmark-only dependency: Debian libpugixml-dev)
//
// usage: markup_load text|text-decoded|xml|stream|xml-stream|pugixml <file> [walk]
// With `walk`, the built tree is also walked once in document order, every element and
// attribute counted, before it is released; standard output then gets one line:
// "<elements and attributes> <seconds the walk took>".
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "nametree/markup_reader.h"

#ifdef HAVE_PUGIXML
#include <pugixml.hpp>
#endif

namespace {

std::size_t count_nodes(const nametree::NameTree& tree) {
  std::size_t count = 0;
  const nametree::TreeNode* root = &nametree::tree_root(tree);
  for (const nametree::TreeNode* node = root; node;) {
    ++count;
    if (const nametree::TreeNode* child = nametree::node_first_child(*node)) {
      node = child;
      continue;
    }
    while (node != root && !nametree::node_next_sibling(*node)) node = nametree::node_parent(*node);
    node = node == root ? nullptr : nametree::node_next_sibling(*node);
  }
  return count - 1;  // the root stands for the document, not for an element
}

// The whole file in memory, read as a program that wants it whole would: into a buffer of
// its size, not cleared first.
std::unique_ptr<char[]> read_file(const char* path, std::size_t& size) {
  FILE* in = std::fopen(path, "rb");
  if (!in) return nullptr;
  std::unique_ptr<char[]> text;
  if (std::fseek(in, 0, SEEK_END) == 0) {
    const long end = std::ftell(in);
    if (end >= 0 && std::fseek(in, 0, SEEK_SET) == 0) {
      size = static_cast<std::size_t>(end);
      text = std::make_unique_for_overwrite<char[]>(size);
      if (std::fread(text.get(), 1, size, in) != size) text.reset();
    }
  }
  std::fclose(in);
  return text;
}

#ifdef HAVE_PUGIXML
// pugixml keeps character data in nodes of their own, which the walk steps over.
std::size_t count_nodes(const pugi::xml_document& document) {
  const pugi::xml_node top = document;
  std::size_t count = 0;
  for (pugi::xml_node node = top.first_child(); node;) {
    if (node.type() == pugi::node_element) {
      ++count;
      for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) ++count;
    }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != top && !node.next_sibling()) node = node.parent();
    node = node == top ? pugi::xml_node() : node.next_sibling();
  }
  return count;
}
#endif

// Walks the tree, counting its elements and attributes; prints the count and the time.
template <typename Tree>
void walk(const Tree& tree) {
  const auto start = std::chrono::steady_clock::now();
  const std::size_t nodes = count_nodes(tree);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("%zu %.4f\n", nodes, took.count());
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc != 3 && argc != 4) || (argc == 4 && std::string_view(argv[3]) != "walk")) {
    std::fputs("usage: markup_load text|text-decoded|xml|stream|xml-stream|pugixml <file> [walk]\n",
               stderr);
    return 2;
  }
  const std::string_view reader = argv[1];
  const char* path = argv[2];
  const bool walked = argc == 4;
  if (reader == "text" || reader == "text-decoded" || reader == "xml" || reader == "stream" ||
      reader == "xml-stream") {
    nametree::ParseResult result;
    nametree::ReaderOptions options;
    options.decode_references = options.read_byte_order_mark = reader == "text-decoded";
    options.xml = reader == "xml" || reader == "xml-stream";
    if (reader != "stream" && reader != "xml-stream") {
      std::size_t size = 0;
      const std::unique_ptr<char[]> text = read_file(path, size);
      if (!text) {
        std::perror(path);
        return 1;
      }
      result = nametree::markup_parse_text(std::string_view(text.get(), size), stderr, options);
    } else {
      FILE* in = std::fopen(path, "rb");
      if (!in) {
        std::perror(path);
        return 1;
      }
      result = nametree::markup_parse_stream(in, stderr, options);
      std::fclose(in);
    }
    if (!result.tree) return 1;
    if (walked) walk(*result.tree);
  } else if (reader == "pugixml") {
#ifdef HAVE_PUGIXML
    pugi::xml_document document;
    const pugi::xml_parse_result parsed = document.load_file(path);
    if (!parsed) {
      std::fprintf(stderr, "pugixml: %s\n", parsed.description());
      return 1;
    }
    if (walked) walk(document);
#else
    std::fputs("built without pugixml (Debian package libpugixml-dev)\n", stderr);
    return 3;
#endif
  } else {
    std::fprintf(stderr, "unknown reader %s\n", argv[1]);
    return 2;
  }
  return 0;
}
