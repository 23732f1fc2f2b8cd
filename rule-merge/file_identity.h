// File identity: a file as the system knows it, whatever its path, and the names of the
// temporary files made beside an output file, written and recognised here alone.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

bool same_file(const FileIdentity& a, const FileIdentity& b);

// The identity of the file open at `fd`, whatever it is; false when fstat fails.
bool file_identity(int fd, FileIdentity& identity);

// What fstat tells of the file open at `fd`.
struct FileStatus {
  FileIdentity identity;
  bool regular = false;
  bool linked = true;  // false once the file has no name left
};

// None when fstat fails.
std::optional<FileStatus> file_status(int fd);

// The letters or digits that end a temporary name, as mkostemp puts them in.
constexpr std::size_t kTemporarySuffixLength = 6;

// The start of the name of a temporary file made for the file named `target`: a dot,
// the name (cut short where the whole would pass the 255-byte limit of a name) and a dot.
std::string temporary_name_prefix(std::string_view target);

// True when `name` is one of the temporary files made for the file named `target`: its
// prefix and six letters or digits.
bool is_temporary_name(std::string_view name, std::string_view target);
