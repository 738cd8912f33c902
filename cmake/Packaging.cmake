# SPDX-License-Identifier: MIT
# The Debian package of the programs, iqplot and the manual pages: `cpack -G DEB` in a build
# folder makes iqtools_<version>_<architecture>.deb (the version of project() in the top
# CMakeLists.txt) for the architecture built for (amd64 natively, arm64 or armhf with the
# toolchain files in cmake/). It holds what Debian's policy asks of a package: stripped
# programs, compressed manual pages, the copyright file (debian/copyright) and a changelog.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME iqtools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "iqtools maintainers <iqtools@iqtools.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "radio astronomy tools for RTL2832 I/Q captures")
# Lines of at most 79 columns: the control file indents each by one.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Command-line tools that turn raw I/Q captures of RTL2832-based receivers into
text tables: averaged power spectra, detected-power traces and their
modulation spectra, pulsar profiles by period folding, two-receiver
cross-correlation, dumps and level histograms, launchers that start a capture
program now or at a time of day, and iqplot, which draws any of the tables.")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)

# The architecture is the target's, not the build machine's: the toolchain files name it.
if(IQTOOLS_DEBIAN_ARCHITECTURE)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${IQTOOLS_DEBIAN_ARCHITECTURE})
endif()

# The C and C++ libraries the programs link, found by dpkg-shlibdeps (for a cross build, in the
# target architecture's packages); iqplot draws with gnuplot, which the other tools do not need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnuplot-nox | gnuplot")

# The licences travel with every install; the package's own documents are made in its staging
# folder just before it is packed.
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/debian/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianPackageFiles.cmake)

include(CPack)
