# cmake --install: the two programs into bin/ and their manual pages into share/man/man1/,
# the library's page into share/man/man3/, compressed as Debian's man-db expects them; and
# into share/doc/<package>/ of each package its copyright file and changelog. Each install
# component is one Debian package (see packaging.cmake):
#   programs     rule-tools        the programs and their pages (RULE_TOOLS_PROGRAMS=ON)
#   library      libnametree<ABI>  the shared library's run-time files
#   development  libnametree-dev   headers, libnametree.a, the libnametree.so link, CMake
#                                  package, pkg-config file, the library's page (see
#                                  nametree/CMakeLists.txt)
get_target_property(RULE_TOOLS_NAMETREE_ABI nametree_shared SOVERSION)
set(RULE_TOOLS_PACKAGE_programs rule-tools)
set(RULE_TOOLS_PACKAGE_library libnametree${RULE_TOOLS_NAMETREE_ABI})
set(RULE_TOOLS_PACKAGE_development libnametree-dev)
set(RULE_TOOLS_COMPONENTS library development)
if(RULE_TOOLS_PROGRAMS)
  list(PREPEND RULE_TOOLS_COMPONENTS programs)
  install(TARGETS rule-merge iftable-json RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
          COMPONENT programs)
endif()

find_program(RULE_TOOLS_GZIP gzip)
# compressed_copy(<source> <copy> <list>): a rule making <copy>.gz from <source>, appended
# to <list>; the source itself where there is no gzip. -n leaves the name and time out
# of the header, so the same file compresses the same.
function(compressed_copy source copy list)
  if(RULE_TOOLS_GZIP)
    get_filename_component(name ${source} NAME)
    add_custom_command(
      OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
      COMMAND ${RULE_TOOLS_GZIP} -9nf ${copy}
      DEPENDS ${source}
      COMMENT "Compressing ${name}"
      VERBATIM)
    set(${list} ${${list}} ${copy}.gz PARENT_SCOPE)
  else()
    set(${list} ${${list}} ${source} PARENT_SCOPE)
  endif()
endfunction()

set(man_sources ${PROJECT_SOURCE_DIR}/man/nametree.3)
if(RULE_TOOLS_PROGRAMS)
  list(APPEND man_sources ${PROJECT_SOURCE_DIR}/man/rule-merge.1
       ${PROJECT_SOURCE_DIR}/man/iftable-json.1)
endif()
set(man_pages "")
foreach(source IN LISTS man_sources)
  get_filename_component(page ${source} NAME)
  compressed_copy(${source} ${PROJECT_BINARY_DIR}/man/${page} man_pages)
endforeach()
set(changelog "")
compressed_copy(${PROJECT_SOURCE_DIR}/cmake/debian/changelog
                ${PROJECT_BINARY_DIR}/debian/changelog changelog)
add_custom_target(man_pages ALL DEPENDS ${man_pages})
add_custom_target(changelog ALL DEPENDS ${changelog})

foreach(page IN LISTS man_pages)
  if(page MATCHES "\\.3(\\.gz)?$")
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
  else()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  endif()
endforeach()

# Every package carries the licence, as a Debian copyright file, and the changelog.
foreach(component IN LISTS RULE_TOOLS_COMPONENTS)
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${RULE_TOOLS_PACKAGE_${component}}
          COMPONENT ${component})
endforeach()
