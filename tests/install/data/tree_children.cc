// A one-file program built against an installed nametree with pkg-config's flags: reads
// its arguments as pieces of one markup text and prints the children of the top element,
// attributes as "@ name=value", elements as "< name=text"; then the top element as the
// markup writer writes it.
#include <nametree/markup_reader.h>
#include <nametree/markup_writer.h>

#include <cstdio>
#include <string>

int main(int, char** argv) {
  nametree::ReaderPtr reader = nametree::markup_reader_create(stderr);
  for (char** piece = argv + 1; *piece; ++piece) {
    if (!nametree::markup_feed(*reader, *piece)) break;
  }
  nametree::ParseResult result = nametree::markup_finish(*reader);
  if (!result.tree) return 1;
  const nametree::TreeNode& top = *nametree::node_first_child(nametree::tree_root(*result.tree));
  for (const nametree::TreeNode& child : nametree::node_children(top)) {
    std::string_view name = nametree::node_name(child);
    std::string_view value = nametree::node_value(child).value_or("");
    std::printf("%s %.*s=%.*s\n", nametree::node_is_attribute(child) ? "@" : "<",
                static_cast<int>(name.size()), name.data(), static_cast<int>(value.size()),
                value.data());
  }
  std::string written;
  if (!nametree::markup_write_text(written, top)) return 1;
  std::printf("%s\n", written.c_str());
  return 0;
}
