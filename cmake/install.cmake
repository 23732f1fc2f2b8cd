# Installs the two programs into bin/ and their manual pages into share/man/man1/, and the
# library's page into share/man/man3/, compressed as Debian's man-db expects them. The
# programs and their pages are the `programs` component; the library's files (see
# nametree/CMakeLists.txt) are the `development` component.
include(GNUInstallDirs)

install(TARGETS rule-merge iftable-json RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT programs)

find_program(RULE_TOOLS_GZIP gzip)
set(man_sources ${PROJECT_SOURCE_DIR}/man/rule-merge.1 ${PROJECT_SOURCE_DIR}/man/iftable-json.1
                ${PROJECT_SOURCE_DIR}/man/nametree.3)
if(RULE_TOOLS_GZIP)
  set(man_pages "")
  foreach(source IN LISTS man_sources)
    get_filename_component(page ${source} NAME)
    set(copy ${PROJECT_BINARY_DIR}/man/${page})
    # -n leaves the name and time out of the header, so the same page compresses the same.
    add_custom_command(
      OUTPUT ${copy}.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
      COMMAND ${RULE_TOOLS_GZIP} -9nf ${copy}
      DEPENDS ${source}
      COMMENT "Compressing the manual page ${page}"
      VERBATIM)
    list(APPEND man_pages ${copy}.gz)
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
else()
  set(man_pages ${man_sources})
endif()
foreach(page IN LISTS man_pages)
  if(page MATCHES "\\.3(\\.gz)?$")
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT development)
  else()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT programs)
  endif()
endforeach()
