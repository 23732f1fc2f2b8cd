# The Debian packages: `cpack -G DEB` in a build folder makes one package per install
# component (see install.cmake), each under /usr with its copyright file and changelog:
#   rule-tools_<version>_<arch>.deb       both programs and their manual pages
#   libnametree<ABI>_<version>_<arch>.deb the shared library
#   libnametree-dev_<version>_<arch>.deb  the library for building against it: headers,
#                                         static library and link to the shared one, CMake
#                                         package, pkg-config file and manual page; it
#                                         depends on the shared library's package
# The programs carry nametree's static copy, so rule-tools never needs the library package.
set(RULE_TOOLS_MAINTAINER "rule-tools maintainers <maintainers@rule-tools.example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rule-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RULE_TOOLS_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# All come from one source: the changelog in share/doc/ is that source's.
set(CPACK_DEBIAN_PACKAGE_SOURCE rule-tools)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# The control files (shlibs, triggers) get the modes dpkg-deb wants.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# One package per install component.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${RULE_TOOLS_COMPONENTS})
set(CPACK_COMPONENTS_GROUPING IGNORE)

# Each package's description: its summary line, then its body, lines of fewer than 80
# characters. (No project-wide summary: cpack would put it before every one.)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME ${RULE_TOOLS_PACKAGE_programs})
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION utils)
string(CONCAT CPACK_DEBIAN_PROGRAMS_DESCRIPTION
       "JSON from rule files and from snmpwalk interface tables\n"
       "Two small command-line converters that turn plain text into one-line JSON.\n"
       "rule-merge checks a JSON configuration document and inserts a disabled rule\n"
       "object for every rule line of the files under tmp/ of the working directory.\n"
       "iftable-json reads an snmpwalk of the IF-MIB interface table on standard input\n"
       "and writes a JSON report of the interfaces whose description begins with en.")

set(nametree_body
    "A tree of named nodes with text values, where repeated names among siblings\n"
    "are numbered; a markup reader that builds one from XML, or from a small\n"
    "forgiving markup, in a whole text, a stream or pieces of any size, reporting\n"
    "each fault with its line and column; and a writer of XML.\n")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME ${RULE_TOOLS_PACKAGE_library})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
string(CONCAT CPACK_DEBIAN_LIBRARY_DESCRIPTION
       "name tree with XML reader and writer for C++ (shared library)\n" ${nametree_body}
       "This package holds the shared library.")
# The shlibs control file, so that dpkg-shlibdeps finds this package for programs
# linked against the library. A later build with the same ABI version provides the same
# interface and more: programs built against this version need this version or later.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# ldconfig runs through libc's trigger, not from maintainer scripts (which cpack would
# write: deb-ldconfig-trigger.cmake takes them out again).
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_RULE_TOOLS_LIBRARY_PACKAGE ${RULE_TOOLS_PACKAGE_library})
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb-ldconfig-trigger.cmake)

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${RULE_TOOLS_PACKAGE_development})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
       "name tree with XML reader and writer for C++ (development files)\n" ${nametree_body}
       "This package holds the headers, the static library, the link to the shared\n"
       "library, the CMake package (find_package(NameTree)), the pkg-config file\n"
       "(nametree) and the manual page.")
# Building against the headers needs the C and C++ standard libraries' development
# files, of the compiler the library was built with where that is GCC; linking against
# the shared library needs its run-time package, of this very build.
set(development_depends "libc6-dev, libstdc++-dev")
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  string(REGEX MATCH "^[0-9]+" RULE_TOOLS_CXX_MAJOR "${CMAKE_CXX_COMPILER_VERSION}")
  set(development_depends "libc6-dev, libstdc++-${RULE_TOOLS_CXX_MAJOR}-dev | libstdc++-dev")
endif()
string(APPEND development_depends ", ${RULE_TOOLS_PACKAGE_library} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${development_depends}")

# The Depends of the programs and of the shared library are worked out when cpack runs,
# from the built files (see deb-depends.cmake.in).
set(RULE_TOOLS_DEB_WORK ${PROJECT_BINARY_DIR}/deb-depends)
set(RULE_TOOLS_DEB_PROGRAMS "")
if(RULE_TOOLS_PROGRAMS)
  set(RULE_TOOLS_DEB_PROGRAMS "$<TARGET_FILE:rule-merge>;$<TARGET_FILE:iftable-json>")
endif()
set(RULE_TOOLS_DEB_LIBRARY "$<TARGET_FILE:nametree_shared>")
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb-depends.cmake.in
               ${PROJECT_BINARY_DIR}/deb-depends.cmake.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake
     INPUT ${PROJECT_BINARY_DIR}/deb-depends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

include(CPack)
