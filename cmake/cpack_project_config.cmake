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
