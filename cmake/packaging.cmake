# The Debian package: `cpack -G DEB` in a build folder makes rule-tools_<version>_<arch>.deb
# holding both programs and their manual pages under /usr.
set(RULE_TOOLS_MAINTAINER "rule-tools maintainers <maintainers@rule-tools.example.org>"
    CACHE STRING "Maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rule-tools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RULE_TOOLS_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "JSON from rule files and from snmpwalk interface tables")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
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

# Depends is worked out when cpack runs, from the built programs (see deb-depends.cmake.in).
set(RULE_TOOLS_DEB_WORK ${PROJECT_BINARY_DIR}/deb-depends)
configure_file(${CMAKE_CURRENT_LIST_DIR}/deb-depends.cmake.in
               ${PROJECT_BINARY_DIR}/deb-depends.cmake.in @ONLY)
file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake
     INPUT ${PROJECT_BINARY_DIR}/deb-depends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackProjectConfig.cmake)

include(CPack)
