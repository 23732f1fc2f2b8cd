# The installation folders (GNUInstallDirs), with one change: on Debian and its derivatives
# the libraries go to lib/<multiarch triplet> under any prefix, not under /usr alone, so
# that `cmake --install` and the Debian packages (built with the default prefix, packaged
# under /usr) lay out the same. Debian's loader and pkg-config look in
# /usr/local/lib/<triplet> too. -DCMAKE_INSTALL_LIBDIR=... still chooses another folder.
if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version AND NOT DEFINED CMAKE_INSTALL_LIBDIR)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE}
      CACHE PATH "Object code libraries (lib/${CMAKE_LIBRARY_ARCHITECTURE})")
endif()
include(GNUInstallDirs)
