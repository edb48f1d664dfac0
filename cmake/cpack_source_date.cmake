# Read by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE). Unless
# the caller sets SOURCE_DATE_EPOCH, the moment the build was configured with
# becomes it: cpack_repack.cmake dates the packaged files with it, dpkg-deb
# the .deb's members, and strip writes it into a Windows program's header.
if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "" AND NOT CPACK_GLYPHOR_SOURCE_DATE_EPOCH STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_GLYPHOR_SOURCE_DATE_EPOCH}")
endif()
