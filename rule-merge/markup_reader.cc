// The markup reader's state machine and its two entry points, text and stream.
#include "markup_reader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>

namespace {

std::string_view token(const NameTree& tree) {
  const char* start = tree.token_buffer.get();
  return {start, static_cast<std::size_t>(tree.token_position - start)};
}

void empty_token(NameTree& tree) {
  tree.token_position = tree.token_buffer.get();
}

bool ends_with(const NameTree& tree, char c) {
  return tree.token_position != tree.token_buffer.get() && tree.token_position[-1] == c;
}

// Messages about the markup end with the position of the character at fault.
void report_position(const NameTree& tree) {
  std::fprintf(tree.err, " at %d:%d\n", tree.line, tree.column);
}

void report_no_memory(const NameTree& tree) {
  std::fprintf(tree.err, "no more memory at %d:%d\n", tree.line, tree.column);
}

// The root has no parent: where a step would climb above it, the root stays current.
void climb(NameTree& tree) {
  if (tree.current->parent) tree.current = tree.current->parent;
}

bool set_value(NameTree& tree, std::string_view value) {
  try {
    std::optional<std::string>& held = tree.current->value;
    if (held) {
      held->assign(value);  // a later run of text replaces the earlier one in place
    } else {
      held.emplace(value);
    }
  } catch (const std::bad_alloc&) {
    report_no_memory(tree);
    return false;
  }
  return true;
}

// Character data ends at a `<`: it becomes the current element's value, without the
// space a trailing run of white space left.
bool finish_text(NameTree& tree) {
  std::string_view text = token(tree);
  if (text.back() == ' ') text.remove_suffix(1);
  return set_value(tree, text);
}

bool finish_attribute_value(NameTree& tree) {
  if (!set_value(tree, token(tree))) return false;
  tree.current->attribute_mark = 1;
  climb(tree);
  return true;
}

bool finish_tag_name(NameTree& tree) {
  std::string_view name = token(tree);
  if (!name.empty() && name.front() == '/') {
    name.remove_prefix(1);
    if (tree.current == tree.root) {
      std::fprintf(tree.err, "tag %.*s is closed at zero level", static_cast<int>(name.size()),
                   name.data());
      report_position(tree);
      return false;
    }
    if (name != tree.current->name) {
      std::fprintf(tree.err, "tag %.*s is not properly paired", static_cast<int>(name.size()),
                   name.data());
      report_position(tree);
      return false;
    }
    tree.current = tree.current->parent;
    return true;
  }
  if (!name.empty() && name.back() == '/') {
    // An empty element: the slash leaves the token, so the self-closing test of the
    // same `>` does not see it again.
    --tree.token_position;
    name.remove_suffix(1);
    if (!tree_add_child(tree, name)) return false;
    tree.current = tree.current->parent;
    return true;
  }
  if (!name.empty() && name.front() == '?') return true;  // a processing instruction
  return tree_add_child(tree, name);
}

// Leaves the parse: on success the tree keeps only its nodes.
std::unique_ptr<NameTree> finish_parse(std::unique_ptr<NameTree> tree) {
  if (tree->current != tree->root) {
    std::fputs("Incomplete xml\n", tree->err);
    return nullptr;
  }
  tree->token_buffer.reset();
  tree->read_buffer.reset();
  tree->token_position = nullptr;
  tree->token_capacity = 0;
  return tree;
}

}  // namespace

namespace markup_detail {

bool grow_token(NameTree& tree) {
  // The capacity is a signed 32-bit count; a token that would need more is refused
  // like any other allocation that cannot be made.
  if (tree.token_capacity > std::numeric_limits<std::int32_t>::max() / 2) {
    report_no_memory(tree);
    return false;
  }
  // A tree handed back by a parse has released its token buffer; feeding it again
  // starts a fresh one.
  const std::int32_t capacity = tree.token_capacity > 0 ? tree.token_capacity * 2 : kTokenStartSize;
  char* grown = new (std::nothrow) char[static_cast<std::size_t>(capacity)];
  if (!grown) {
    report_no_memory(tree);
    return false;
  }
  const std::size_t length = tree.token_buffer ? token(tree).size() : 0;
  if (length > 0) std::memcpy(grown, tree.token_buffer.get(), length);
  tree.token_buffer.reset(grown);
  tree.token_position = grown + length;
  tree.token_capacity = capacity;
  return true;
}

bool feed_markup(NameTree& tree, char c) {
  // The position is counted before the character is read, so a fault names the
  // character that caused it.
  if (c == '\n') {
    tree.line = markup_detail::advance(tree.line);
    tree.column = 0;
  } else {
    tree.column = markup_detail::advance(tree.column);
  }

  if (tree.in_comment) {
    // Only runs of `-` and `>` are kept, enough to see the closing `-->`.
    if (c == '>' || c == '-') {
      *tree.token_position++ = c;
      const std::string_view t = token(tree);
      if (t.size() >= 3 && t.substr(t.size() - 3) == "-->") {
        tree.in_comment = false;
        empty_token(tree);
      }
    } else {
      empty_token(tree);
    }
    return true;
  }

  if (tree.in_value) {
    // A quote after a backslash stays in the value together with the backslash.
    if (c == '"' && !ends_with(tree, '\\')) {
      if (!finish_attribute_value(tree)) return false;
      tree.in_value = false;
      empty_token(tree);
      return true;
    }
    *tree.token_position++ = c;
    return true;
  }

  switch (c) {
    case '"':
      if (!tree.in_attributes) break;
      tree.in_value = true;
      return true;

    case '<':
      if (tree.token_position != tree.token_buffer.get()) {
        if (!finish_text(tree)) return false;
        empty_token(tree);
      }
      // Only a tag name being read refuses a `<`: among the attributes it opens a child
      // element of the element still open.
      if (tree.in_tag) {
        std::fputs("tag is already opened", tree.err);
        report_position(tree);
        return false;
      }
      tree.in_tag = true;
      return true;

    case '>':
      if (!tree.in_tag && !tree.in_attributes) {
        std::fputs("tag is not yet opened", tree.err);
        report_position(tree);
        return false;
      }
      if (tree.in_tag && !finish_tag_name(tree)) return false;
      if (tree.in_attributes && ends_with(tree, '/')) climb(tree);
      tree.in_tag = false;
      tree.in_attributes = false;
      empty_token(tree);
      return true;

    case '=':
      if (!tree.in_attributes) break;
      // The attribute node becomes current, so the value that follows lands on it.
      if (!tree_add_child(tree, token(tree))) return false;
      empty_token(tree);
      return true;

    case ' ':
    case '\t':
    case '\n':
    case '\r':
      if (tree.in_tag || tree.in_attributes) {
        if (tree.in_tag && !finish_tag_name(tree)) return false;
        tree.in_tag = false;
        tree.in_attributes = true;
        empty_token(tree);
        return true;
      }
      // In text, leading white space is dropped and every run shrinks to one space.
      if (tree.token_position != tree.token_buffer.get() && !ends_with(tree, ' ')) {
        *tree.token_position++ = ' ';
      }
      return true;

    default:
      break;
  }

  *tree.token_position++ = c;
  if (tree.in_tag && token(tree) == "!--") {
    tree.in_comment = true;
    tree.in_tag = false;
    empty_token(tree);
  }
  return true;
}

}  // namespace markup_detail

namespace {

// Characters that end a stretch of character data: the start or end of a tag.
constexpr std::array<bool, 256> kTextEnd = [] {
  std::array<bool, 256> table{};
  table['<'] = table['>'] = true;
  return table;
}();

constexpr std::array<bool, 256> kBlank = [] {
  std::array<bool, 256> table{};
  table[' '] = table['\t'] = table['\n'] = table['\r'] = true;
  return table;
}();

bool in_text(const NameTree& tree) {
  return !(tree.in_tag | tree.in_attributes | tree.in_value | tree.in_comment);
}

// Character data up to the next `<` or `>`, as far as the token has room for: each
// character is appended, white space as one space unless the token is empty or already
// ends with one, without a branch that depends on the text. Returns where it stopped.
const char* feed_text(NameTree& tree, const char* p, const char* const end) {
  char* const start = tree.token_buffer.get();
  char* token = tree.token_position;
  // Each character adds at most one to the token, so it cannot fill up before `stop`.
  const std::size_t room = static_cast<std::size_t>(start + tree.token_capacity - token);
  const char* const stop = p + std::min(room, static_cast<std::size_t>(end - p));
  bool drop_blank = token == start || token[-1] == ' ';
  std::int32_t line = tree.line;
  std::int32_t column = tree.column;
  for (; p != stop; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (kTextEnd[c]) break;
    const bool blank = kBlank[c];
    const bool newline = c == '\n';
    line = markup_detail::advance(line, newline);
    column = newline ? 0 : markup_detail::advance(column);
    *token = blank ? ' ' : static_cast<char>(c);
    token += !blank | !drop_blank;
    drop_blank = blank;
  }
  tree.token_position = token;
  tree.line = line;
  tree.column = column;
  return p;
}

// Feeds every character of [p, end) in order, exactly as markup_feed would one by one,
// with the commonest cases kept in loops of their own: character data, and runs of
// characters that only join the token.
bool feed_span(NameTree& tree, const char* p, const char* const end) {
  using markup_detail::kPlain;
  while (p != end) {
    char* const buffer_end = tree.token_buffer.get() + tree.token_capacity;
    if (in_text(tree)) {
      if (tree.token_position == buffer_end && !markup_detail::grow_token(tree)) return false;
      p = feed_text(tree, p, end);
      if (p != end && kTextEnd[static_cast<unsigned char>(*p)] && !markup_feed(tree, *p++)) {
        return false;
      }
      continue;
    }
    if (kPlain[static_cast<unsigned char>(*p)] && !tree.in_comment) {
      char* token = tree.token_position;
      const char* const run = p;
      while (token != buffer_end && p != end && kPlain[static_cast<unsigned char>(*p)]) {
        *token++ = *p++;
      }
      tree.token_position = token;
      tree.column = markup_detail::advance(tree.column, static_cast<std::uint32_t>(p - run));
      if (token == buffer_end && p != end && !markup_detail::grow_token(tree)) return false;
      continue;
    }
    if (!markup_feed(tree, *p++)) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<NameTree> markup_parse_text(std::string_view text, FILE* err) {
  if (text.empty()) return nullptr;
  std::unique_ptr<NameTree> tree = tree_create(err);
  if (!tree) return nullptr;
  if (!feed_span(*tree, text.data(), text.data() + text.size())) return nullptr;
  return finish_parse(std::move(tree));
}

std::unique_ptr<NameTree> markup_parse_stream(FILE* stream, FILE* err) {
  if (!stream) return nullptr;  // no stream, as no text, gives no tree
  std::unique_ptr<NameTree> tree = tree_create(err);
  if (!tree) return nullptr;
  char* const line = tree->read_buffer.get();
  while (std::fgets(line, tree->read_buffer_size, stream)) {
    if (!feed_span(*tree, line, line + std::strlen(line))) return nullptr;
  }
  return finish_parse(std::move(tree));
}
