# Run by cpack after it has made the packages (CPACK_POST_BUILD_SCRIPTS). cpack gives a
# package holding a shared library maintainer scripts that call ldconfig; Debian wants
# the library's package to activate libc's ldconfig trigger instead (the `triggers` file
# that package already carries). This takes the two scripts out of the library's package.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name ${package} NAME)
  if(NOT name MATCHES "^${CPACK_RULE_TOOLS_LIBRARY_PACKAGE}_.*\\.deb$")
    continue()
  endif()
  set(tree ${CPACK_TOPLEVEL_DIRECTORY}/ldconfig-trigger)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${package} ${tree} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -R ${name} failed")
  endif()
  file(REMOVE ${tree}/DEBIAN/postinst ${tree}/DEBIAN/postrm)
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -b ${tree} ${package}
                  OUTPUT_QUIET RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -b ${name} failed")
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
