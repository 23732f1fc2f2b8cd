// Speed of the markup reader on a generated document of about 100 MB, read from memory
// and as a stream, by its default reading and by its XML reading, with the heap the
// finished tree holds.
//
// The document is written to $MARKUP_BENCH_DOCUMENT (default /tmp/markup-bench.xml)
// when that file is missing. bench/markup-vs-xmllint prints these figures next to
// xmllint's on the same file.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "markup_document.h"
#include "nametree/markup_reader.h"

namespace {

using namespace nametree;

constexpr std::size_t kDocumentMegabytes = 100;

std::string document_path() {
  const char* path = std::getenv("MARKUP_BENCH_DOCUMENT");
  return path ? path : "/tmp/markup-bench.xml";
}

// The document's text, written first if it is not there yet.
const std::string& document() {
  static const std::string text = [] {
    const std::string path = document_path();
    if (FILE* existing = std::fopen(path.c_str(), "rb")) {
      std::fclose(existing);
    } else {
      FILE* out = std::fopen(path.c_str(), "wb");
      if (!out || !write_markup_document(out, kDocumentMegabytes << 20) || std::fclose(out)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
      }
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }();
  return text;
}

// The process's resident memory in bytes. The tree's large blocks are mapped on their own,
// outside the heap that mallinfo2 counts, so the tree's size is taken from here.
std::size_t resident_bytes() {
  long pages = 0, resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

std::size_t count_nodes(const NameTree& tree) {
  std::size_t count = 0;
  for (const TreeNode* node = &tree_root(tree); node;) {
    ++count;
    if (const TreeNode* child = node_first_child(*node)) {
      node = child;
      continue;
    }
    while (node && !node_next_sibling(*node)) node = node_parent(*node);
    if (node) node = node_next_sibling(*node);
  }
  return count;
}

// Parses once outside the timed loop to report the finished tree's size: the resident
// memory it added, the reader's working buffers released. Every benchmark reports it, so
// that each row has the same columns.
void report_tree(benchmark::State& state, const std::string& text, ReaderOptions options) {
  malloc_trim(0);
  const std::size_t before = resident_bytes();
  TreePtr tree = markup_parse_text(text, stderr, options).tree;
  if (!tree) return;
  const std::size_t heap = resident_bytes() - before;
  const double nodes = static_cast<double>(count_nodes(*tree));
  state.counters["nodes"] = nodes;
  state.counters["tree_MiB"] = static_cast<double>(heap) / (1 << 20);
  state.counters["bytes_per_node"] = static_cast<double>(heap) / nodes;
}

ReaderOptions reading(bool xml) {
  ReaderOptions options;
  options.xml = xml;
  return options;
}

// Hands the freed tree back to the system between runs, so each run starts from a fresh
// heap as a one-shot reader (xmllint) does. Without this, glibc hands the next run the
// freed nodes in scattered order and both building and releasing the tree slow down.
void fresh_heap(benchmark::State& state) {
  state.PauseTiming();
  malloc_trim(0);
  state.ResumeTiming();
}

void BM_ParseText(benchmark::State& state, bool xml) {
  const std::string& text = document();
  report_tree(state, text, reading(xml));
  for (auto _ : state) {
    fresh_heap(state);
    TreePtr tree = markup_parse_text(text, stderr, reading(xml)).tree;
    if (!tree) {
      state.SkipWithError("the document was refused");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_ParseStream(benchmark::State& state, bool xml) {
  const std::size_t size = document().size();
  report_tree(state, document(), reading(xml));
  const std::string path = document_path();
  for (auto _ : state) {
    fresh_heap(state);
    FILE* stream = std::fopen(path.c_str(), "rb");
    TreePtr tree = markup_parse_stream(stream, stderr, reading(xml)).tree;
    std::fclose(stream);
    if (!tree) {
      state.SkipWithError("the document was refused");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// The tree is released inside the timed loop, as a reader that builds a tree must.
BENCHMARK_CAPTURE(BM_ParseText, default, false)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(BM_ParseStream, default, false)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(BM_ParseText, xml, true)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK_CAPTURE(BM_ParseStream, xml, true)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

BENCHMARK_MAIN();
