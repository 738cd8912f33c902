# SPDX-License-Identifier: MIT
# Run by cpack in the package's staging folder before packing it (CPACK_PRE_BUILD_SCRIPTS):
# compresses the manual pages and writes the changelog of the package's version, both with
# gzip -9n (no name or time stored, so that the same sources give the same package).
set(usr ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${usr}/share/doc/${CPACK_PACKAGE_NAME})

function(compress path)
  execute_process(COMMAND gzip -9nf ${path} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${path}")
  endif()
endfunction()

file(GLOB pages ${usr}/share/man/man1/*.1)
foreach(page ${pages})
  compress(${page})
endforeach()

# One entry, for this version; its time is now, or SOURCE_DATE_EPOCH when that is set.
string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(MAKE_DIRECTORY ${doc})
file(WRITE ${doc}/changelog
     "${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${CPACK_PACKAGE_VERSION} of the toolkit.\n\n"
     " -- ${CPACK_PACKAGE_CONTACT}  ${date}\n")
compress(${doc}/changelog)
