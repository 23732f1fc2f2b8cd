// Checks the markup reader against a conforming XML reader, libxml2: for well-formed
// documents without DOCTYPE or CDATA sections, both must agree on element names and
// nesting, attribute names and values, and the text both define; where the documents
// hold references or a byte order mark, with the reader's options for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "file_text.h"
#include "nametree/markup_reader.h"
#include "process.h"
#include "random_documents.h"
#include "tree_compare.h"

#if HAVE_LIBXML2
#include <libxml/parser.h>
#endif

namespace {

using namespace nametree;

#if HAVE_LIBXML2

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Character data as the markup reader keeps it: leading and trailing white space gone,
// every inner run of it one space.
std::string fold(std::string_view text) {
  std::string folded;
  for (char c : text) {
    if (!is_blank(c)) {
      folded += c;
    } else if (!folded.empty() && folded.back() != ' ') {
      folded += ' ';
    }
  }
  if (!folded.empty() && folded.back() == ' ') folded.pop_back();
  return folded;
}

// Builds a name tree from libxml2's events the way the markup reader would: elements
// and their attributes (in document order, namespace declarations among them) as
// nodes, and as each element's value the last run of character data that is not blank.
struct ReferenceBuilder {
  TreePtr tree;
  std::string run;  // character data since the last markup

  void end_run() {
    const std::string text = fold(run);
    if (!text.empty()) {
      ASSERT_TRUE(tree_set_value(*tree, tree_current(*tree), text));
    }
    run.clear();
  }
};

ReferenceBuilder& builder(void* context) {
  return *static_cast<ReferenceBuilder*>(context);
}

const char* chars(const xmlChar* text) {
  return reinterpret_cast<const char*>(text);
}

void on_start_element(void* context, const xmlChar* name, const xmlChar** attributes) {
  ReferenceBuilder& b = builder(context);
  b.end_run();
  ASSERT_TRUE(tree_add_child(*b.tree, chars(name)));
  TreeNode& element = tree_current(*b.tree);
  for (int i = 0; attributes && attributes[i]; i += 2) {
    ASSERT_TRUE(tree_add_child(*b.tree, chars(attributes[i])));
    TreeNode& attribute = tree_current(*b.tree);
    ASSERT_TRUE(
        tree_set_value(*b.tree, attribute, attributes[i + 1] ? chars(attributes[i + 1]) : ""));
    node_set_attribute_mark(attribute, true);
    tree_set_current(*b.tree, element);
  }
}

void on_end_element(void* context, const xmlChar*) {
  ReferenceBuilder& b = builder(context);
  b.end_run();
  tree_set_current(*b.tree, *node_parent(tree_current(*b.tree)));
}

void on_characters(void* context, const xmlChar* text, int length) {
  builder(context).run.append(chars(text), static_cast<std::size_t>(length));
}

void on_comment(void* context, const xmlChar*) {
  builder(context).end_run();
}

void on_processing_instruction(void* context, const xmlChar*, const xmlChar*) {
  builder(context).end_run();
}

// The reference tree from libxml2, or none with the reason in `why`.
TreePtr libxml2_tree(const std::string& document, std::string& why) {
  ReferenceBuilder b;
  b.tree = tree_create();
  xmlSAXHandler handler{};
  // Without the SAX2 mark the parser reports attributes, namespace declarations
  // included, through startElement in the order they were written.
  handler.initialized = 1;
  handler.startElement = on_start_element;
  handler.endElement = on_end_element;
  handler.characters = on_characters;
  handler.ignorableWhitespace = on_characters;
  handler.comment = on_comment;
  handler.processingInstruction = on_processing_instruction;
  const int status =
      xmlSAXUserParseMemory(&handler, &b, document.data(), static_cast<int>(document.size()));
  if (status != 0) {
    why = "libxml2 refused the document (error " + std::to_string(status) + ")";
    return nullptr;
  }
  return std::move(b.tree);
}

// Attribute values as a conforming reader delivers them: each line end, tab or newline
// becomes a space. The markup reader keeps them as written.
void normalize_attribute_values(NameTree& tree) {
  TreeNode* const root = &tree_root(tree);
  for (TreeNode* node = root; node;) {
    const std::optional<std::string_view> value = node_value(*node);
    if (node_is_attribute(*node) && value) {
      std::string normalized;
      for (std::size_t i = 0; i < value->size(); ++i) {
        if ((*value)[i] == '\r' && i + 1 < value->size() && (*value)[i + 1] == '\n') continue;
        normalized += is_blank((*value)[i]) ? ' ' : (*value)[i];
      }
      ASSERT_TRUE(tree_set_value(tree, *node, normalized));
    }
    node = const_cast<TreeNode*>(tree_walk_next(
        node, root, [] {}, [] {}));
  }
}

// The single element under the root; the markup reader also hangs the pseudo-attributes
// of a leading `<?xml ...?>` there, which a conforming reader does not report as such.
const TreeNode* document_element(const NameTree& tree, std::string& why) {
  const TreeNode* found = nullptr;
  for (const TreeNode& node : node_children(tree_root(tree))) {
    if (node_is_attribute(node)) continue;
    if (found) {
      why = "more than one element at the top";
      return nullptr;
    }
    found = &node;
  }
  if (!found) why = "no element at the top";
  return found;
}

// Parses `document` with both readers and returns where their trees differ ("" if nowhere).
std::string compare_with_libxml2(const std::string& document, ReaderOptions options = {}) {
  char* messages = nullptr;
  std::size_t size = 0;
  FILE* err = open_memstream(&messages, &size);
  TreePtr ours = markup_parse_text(document, err, options).tree;
  std::fclose(err);
  const std::string message(messages, size);
  std::free(messages);
  if (!ours) return "the markup reader refused the document: " + message;

  std::string why;
  TreePtr reference = libxml2_tree(document, why);
  if (!reference) return why;
  normalize_attribute_values(*ours);
  const TreeNode* our_element = document_element(*ours, why);
  if (!our_element) return "markup reader: " + why;
  const TreeNode* reference_element = document_element(*reference, why);
  if (!reference_element) return "libxml2: " + why;
  return tree_difference(our_element, reference_element);
}

TEST(MarkupAgainstLibxml2, RealDocuments) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(MARKUP_DATA_DIR)) {
    if (entry.path().extension() == ".xml") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 5u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.filename().string());
    EXPECT_EQ(compare_with_libxml2(read_file(file)), "");
  }
}

TEST(MarkupAgainstLibxml2, GeneratedDocuments) {
  PlainXmlDocumentGenerator generator{std::mt19937(7)};
  for (int i = 0; i < 500; ++i) {
    const std::string document = generator.document();
    SCOPED_TRACE(document);
    ASSERT_EQ(compare_with_libxml2(document), "");
  }
}

TEST(MarkupAgainstLibxml2, GeneratedDocumentsWithReferencesAndMarks) {
  PlainXmlDocumentGenerator generator{std::mt19937(11), true};
  ReaderOptions options;
  options.decode_references = true;
  options.read_byte_order_mark = true;
  // Without substitution libxml2 hands an `&` made by a reference in an attribute value
  // back as `&#38;`.
  const int substituted_before = xmlSubstituteEntitiesDefault(1);
  for (int i = 0; i < 300; ++i) {
    const std::string document = (i % 2 ? "\xEF\xBB\xBF" : "") + generator.document();
    SCOPED_TRACE(document);
    EXPECT_EQ(compare_with_libxml2(document, options), "");
  }
  xmlSubstituteEntitiesDefault(substituted_before);
}

TEST(MarkupAgainstLibxml2, ComparisonSeesDifferences) {
  // Documents the two readers take differently, to show the comparison looks.
  const std::pair<std::string, std::string> cases[] = {
      {R"(<a x = "1"/>)", R"(name "" vs "x" at /@)"},
      {"<a>x<b/>y</a>", ""},
      {R"(<a t="c:\"/>)", "the markup reader refused the document: Incomplete xml\n"},
  };
  for (const auto& [document, difference] : cases) {
    SCOPED_TRACE(document);
    EXPECT_EQ(compare_with_libxml2(document), difference);
  }
}

#else

TEST(MarkupAgainstLibxml2, RealDocuments) {
  SKIP_UNLESS_CI(
      "libxml2 was not found through pkg-config (libxml-2.0) when this test was configured; "
      "install libxml2-dev to compare the markup reader with it");
}

#endif

}  // namespace
