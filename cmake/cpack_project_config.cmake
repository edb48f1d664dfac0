# Read by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE), with
# CPACK_GENERATOR set to the package's kind.

# Unless the caller sets SOURCE_DATE_EPOCH, the moment the build was configured
# with becomes it: cpack_repack.cmake dates the packaged files with it, dpkg-deb
# the .deb's members, and strip writes it into a Windows program's header.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "" AND NOT CPACK_GLYPHOR_SOURCE_DATE_EPOCH STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_GLYPHOR_SOURCE_DATE_EPOCH}")
endif()

# A package without dependencies (a static build's .deb) has no Depends field,
# which CPack leaves out when CPACK_DEBIAN_PACKAGE_DEPENDS is empty, and it
# has no other way to say "none": its DEB generator then prints the status
# line "CPACK_DEBIAN_PACKAGE_DEPENDS not set, the package will have no
# dependencies.", as if they had been forgotten. Here none is meant, so the
# generator's status lines are not printed for that package.
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_GLYPHOR_NO_DEPENDS)
  set(CMAKE_MESSAGE_LOG_LEVEL NOTICE)
endif()

# cpack_repack.cmake makes the zip again with Info-ZIP's zip. Without it no zip
# is made at all: CPack's own is not the same bytes from build to build, and
# one that an earlier run left at the package's path is not this build's.
if(CPACK_GENERATOR STREQUAL "ZIP")
  find_program(GLYPHOR_ZIP zip)
  if(NOT GLYPHOR_ZIP)
    file(REMOVE "${CPACK_PACKAGE_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.zip")
    message(FATAL_ERROR "The zip is made with Info-ZIP's zip (Debian: apt-get install zip)")
  endif()
endif()
