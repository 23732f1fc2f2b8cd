# shellcheck shell=bash disable=SC2154
# Sourced by package-test and library-test: reporting, lintian, and building against an
# installed nametree as its users do. The sourcing script sets test_name, source_dir and
# scratch (a folder it removes at exit).

checks=0
fail() {
  echo "$test_name: FAILED: $*" >&2
  exit 1
}
ok() {
  checks=$((checks + 1))
  echo "$test_name: ok: $*"
}
note() {
  echo "$test_name: $*"
}
# expect_equal <what> <expected> <actual>
expect_equal() {
  if [ "$2" != "$3" ]; then
    fail "$1: expected [$2], got [$3]"
  fi
  ok "$1"
}
# run_logged <log> <command...>: runs quietly, shows the log when the command fails.
run_logged() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; fail "$*"; }
}
# A tool the tests need: its absence fails where CI is set, and is noted elsewhere.
# have_tool <command> <Debian package>
have_tool() {
  command -v "$1" >/dev/null && return 0
  [ -z "${CI:-}" ] || fail "$1 is not installed (Debian package $2)"
  note "$1 is not installed (Debian package $2): its checks are left out"
  return 1
}

# lintian_clean <package.deb>...: lintian reports neither an error nor a warning.
lintian_clean() {
  have_tool lintian lintian || return 0
  local status=0
  # In the C locale: perl warns on standard error of a locale the environment names but
  # the machine lacks (LANG passed on by ssh, say).
  LC_ALL=C.UTF-8 lintian --fail-on error,warning "$@" >"$scratch/lintian.out" 2>"$scratch/lintian.err" ||
    status=$?
  # lintian run as root says so on standard error, and nothing else there is expected.
  local complaints
  complaints=$(grep -v 'running with root privileges is not recommended!' "$scratch/lintian.err" || true)
  if [ $status != 0 ] || [ -s "$scratch/lintian.out" ] || [ -n "$complaints" ]; then
    fail "lintian (status $status): $(cat "$scratch/lintian.out") $complaints"
  fi
  local names=() deb
  for deb in "$@"; do names+=("$(basename "$deb")"); done
  ok "lintian reports nothing on ${names[*]}"
}

# elf_dynamic <file> <entry>: the values of one kind of entry of an ELF file's dynamic
# section (NEEDED, SONAME, RUNPATH, RPATH), one a line.
elf_dynamic() {
  readelf -d "$1" | sed -nE "s/.*\\($2\\) .*\\[(.*)\\]$/\\1/p"
}

# build_against <label> <sysroot> <prefix> <libdir>: against the nametree installed under
# <sysroot><prefix> (its pkg-config file naming <prefix>; <libdir> relative to <prefix>),
# builds the programs of examples/markup-tree through CMake's find_package, and
# tests/install/data/tree_children.cc through pkg-config and against the static library;
# runs them all, and checks that the first ones are linked against the shared library and
# the last carries the static one.
build_against() {
  local label=$1 sysroot=$2 prefix=$3
  local root=$sysroot$prefix
  local libdir=$root/$4
  local example=$source_dir/examples/markup-tree
  local build=$scratch/example-$label

  run_logged "$scratch/example.log" cmake -S "$example" -B "$build" \
    -DCMAKE_PREFIX_PATH="$root" -DCMAKE_BUILD_TYPE=Release
  local found
  found=$(sed -n 's/^NameTree_DIR:PATH=//p' "$build/CMakeCache.txt")
  [[ "$found" == "$libdir/cmake/NameTree" ]] || fail "markup-tree ($label) found NameTree in $found"
  run_logged "$scratch/example-build.log" cmake --build "$build"
  local tree
  tree=$(LD_LIBRARY_PATH=$libdir "$build/markup-tree" "$example/catalog.xml") ||
    fail "markup-tree ($label) on catalog.xml"
  [ "$tree" = "$(cat "$example/catalog.outline")" ] ||
    fail "markup-tree ($label) on catalog.xml differs from catalog.outline: $(head -c 400 <<<"$tree")"
  ok "markup-tree ($label, find_package) prints catalog.outline"
  printf '<a>\n  <b></c>\n</a>\n' >"$scratch/broken.xml"
  local status=0 message
  message=$(LD_LIBRARY_PATH=$libdir "$build/markup-tree" "$scratch/broken.xml" 2>&1) || status=$?
  [ $status = 1 ] && [[ "$message" == "$scratch/broken.xml:2:"[0-9]*": "* ]] ||
    fail "markup-tree ($label) on a broken file: status $status, $message"
  ok "markup-tree ($label) reports a fault with its line and column"
  local edits
  mapfile -t edits <"$example/config.edits"
  LD_LIBRARY_PATH=$libdir "$build/markup-edit" "$example/config.xml" "${edits[@]}" >"$scratch/edited.xml" ||
    fail "markup-edit ($label) on config.xml"
  cmp -s "$scratch/edited.xml" "$example/config.edited.xml" ||
    fail "markup-edit ($label) on config.xml differs from config.edited.xml: $(head -c 400 "$scratch/edited.xml")"
  ok "markup-edit ($label, find_package) writes config.edited.xml"

  local flags
  flags=$(PKG_CONFIG_SYSROOT_DIR=$sysroot PKG_CONFIG_PATH=$libdir/pkgconfig pkg-config --cflags --libs nametree) ||
    fail "pkg-config ($label) knows no nametree"
  local flag folders=""
  for flag in $flags; do
    case $flag in -I* | -L*) folders+="${flag:0:2}$(realpath -m "${flag:2}") " ;; esac
  done
  [ "$folders" = "-I$(realpath "$root/include") -L$(realpath "$libdir") " ] ||
    fail "pkg-config ($label) flags do not lead to $root: $flags"
  # Under the headers' own standard, which is older than the library's; once through
  # pkg-config, once with the static library named.
  local expected='@ k=v
< s=text
<r k="v"><s>text</s></r>'
  run_logged "$scratch/one.log" c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror \
    "$source_dir/tests/install/data/tree_children.cc" $flags -o "$scratch/one-$label"
  expect_equal "pkg-config program ($label)" "$expected" \
    "$(LD_LIBRARY_PATH=$libdir "$scratch/one-$label" '<r k' '="v"><s>te' 'xt</s' '></r>')"
  run_logged "$scratch/one.log" c++ -std=c++17 -Wall -Wextra -Wpedantic -Werror \
    "$source_dir/tests/install/data/tree_children.cc" "-I$root/include" "$libdir/libnametree.a" \
    -o "$scratch/static-$label"
  expect_equal "static program ($label)" "$expected" \
    "$("$scratch/static-$label" '<r k' '="v"><s>te' 'xt</s' '></r>')"

  local program needed
  for program in "$build/markup-tree" "$build/markup-edit" "$scratch/one-$label"; do
    needed=$(elf_dynamic "$program" NEEDED | grep '^libnametree' || true)
    [[ "$needed" =~ ^libnametree\.so\.[0-9]+$ ]] || fail "$program needs [$needed], not libnametree.so.N"
  done
  needed=$(elf_dynamic "$scratch/static-$label" NEEDED | grep '^libnametree' || true)
  [ -z "$needed" ] || fail "$scratch/static-$label needs $needed, linked with libnametree.a"
  ok "the programs ($label) are linked against libnametree.so, and one with libnametree.a statically"
}
