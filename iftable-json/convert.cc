// The conversion: read the walk, say when nothing of it was read, write the report.
#include "convert.h"

#include <memory>
#include <new>

#include "report_writer.h"

std::vector<Fault> convert_walk(FILE* in, FILE* out, const ConvertOptions& options, std::time_t now,
                                std::size_t buffer_size) {
  std::vector<Fault> faults;
  std::unique_ptr<WalkState> state(new (std::nothrow) WalkState);
  if (!state) {
    faults.push_back({FaultKind::kNoMemory, "No more memory\n"});
    return faults;
  }
  state->slots.limit = options.max_rows;
  if (std::optional<Fault> fault =
          read_walk(in, {options.prefix, options.ifx}, *state, buffer_size)) {
    faults.push_back(std::move(*fault));
    return faults;
  }
  if (state->seen_text && !state->read_table) {
    faults.push_back({FaultKind::kNothingRead, "no interface table line in the walk\n"});
  }
  write_report(out, *state, options.ifx, options.descr_prefix, now);
  return faults;
}
