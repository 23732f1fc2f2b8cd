# The Debian packages: `cpack -G DEB` in a build folder makes rule-tools_<version>_<arch>.deb
# holding both programs and their manual pages under /usr, and
# libnametree-dev_<version>_<arch>.deb holding the library for building against it:
# headers, static library, CMake package, pkg-config file and manual page.
set(RULE_TOOLS_MAINTAINER "rule-tools maintainers <maintainers@rule-tools.example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rule-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RULE_TOOLS_MAINTAINER}")
# Each package's description: its summary line, then its body. (No project-wide summary:
# cpack would put it before both.)
string(CONCAT CPACK_DEBIAN_PROGRAMS_DESCRIPTION
       "JSON from rule files and from snmpwalk interface tables\n"
       "Two small command-line converters that turn plain text into one-line JSON.\n"
       "rule-merge checks a JSON configuration document and inserts a disabled rule\n"
       "object for every rule line of the files under tmp/ of the working directory.\n"
       "iftable-json reads an snmpwalk of the IF-MIB interface table on standard input\n"
       "and writes a JSON report of the interfaces whose description begins with en.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

# One package per install component.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs development)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME rule-tools)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libnametree-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
       "name tree and forgiving markup reader for C++ (development files)\n"
       "A tree of named nodes with text values, where repeated names among siblings are\n"
       "numbered, and a small forgiving markup reader that builds one from a whole text,\n"
       "a stream or pieces of any size, reporting each fault with its line and column.\n"
       "This package holds the headers, the static library, the CMake package\n"
       "(find_package(NameTree)), the pkg-config file (nametree) and the manual page.")
# Static library and headers: building against them needs the C and C++ standard
# libraries' development files of the compiler the library was built with.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libc6-dev, libstdc++-dev")
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  string(REGEX MATCH "^[0-9]+" RULE_TOOLS_CXX_MAJOR "${CMAKE_CXX_COMPILER_VERSION}")
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
      "libc6-dev, libstdc++-${RULE_TOOLS_CXX_MAJOR}-dev | libstdc++-dev")
endif()

# Depends is worked out when cpack runs, from the built programs (see deb-depends.cmake.in).
set(RULE_TOOLS_DEB_WORK ${PROJECT_BINARY_DIR}/deb-depends)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb-depends.cmake.in
               ${PROJECT_BINARY_DIR}/deb-depends.cmake.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake
     INPUT ${PROJECT_BINARY_DIR}/deb-depends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

include(CPack)
