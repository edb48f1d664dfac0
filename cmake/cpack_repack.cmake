# Run by cpack once it has made a package (CPACK_POST_BUILD_SCRIPTS): makes
# the package again from the same files, so that it is the same bytes
# wherever it is built. CPack's own depend on the builder:
#
# - its zip lists the files in the order the file system returns them (ext4
#   and tmpfs differ), and records the builder's user and group ids and local
#   time;
# - its .deb takes the modes of its folders and members from the builder's
#   umask, and its Installed-Size counts every folder at the size it has on
#   the builder's file system (4 KiB on ext4, less on tmpfs).
#
# Here every file is dated SOURCE_DATE_EPOCH (cpack_project_config.cmake). The
# zip is Info-ZIP's: the files in name order, without owners, extra time
# fields (-X) or folder entries (-D), dated in UTC. The .deb is dpkg-deb's,
# which orders, owns and dates its members alike wherever it runs, with
# rwxr-xr-x folders and Installed-Size counted as dpkg-gencontrol counts it.

# date_files(FOLDER ENTRY...): dates the ENTRYs, named from FOLDER, at
# SOURCE_DATE_EPOCH (when there is none, cpack has left them dated as built).
function(date_files folder)
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" -- ${ARGN}
                    WORKING_DIRECTORY "${folder}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endfunction()

function(rezip package)
  # Found before CPack made its zip (cpack_project_config.cmake).
  find_program(GLYPHOR_ZIP zip REQUIRED)
  # The entries' names start with the top folder when the zip has one.
  set(base "${CPACK_TEMPORARY_DIRECTORY}")
  if(CPACK_INCLUDE_TOPLEVEL_DIRECTORY)
    get_filename_component(base "${base}" DIRECTORY)
  endif()
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${base}"
       "${CPACK_TEMPORARY_DIRECTORY}/*")
  list(SORT files)
  date_files("${base}" ${files})
  file(REMOVE "${package}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC0
                          "${GLYPHOR_ZIP}" -X -D -9 -q "${package}" ${files}
                  WORKING_DIRECTORY "${base}" COMMAND_ERROR_IS_FATAL ANY)
endfunction()

function(redeb package)
  set(tree "${package}.tree")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}" COMMAND_ERROR_IS_FATAL ANY)
  file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${tree}" "${tree}/*")
  # Each file's size in KiB, rounded up, and 1 KiB for each folder.
  set(kib 0)
  foreach(entry IN LISTS entries)
    if(entry MATCHES "^DEBIAN(/|$)")
      continue()
    elseif(IS_DIRECTORY "${tree}/${entry}")
      math(EXPR kib "${kib} + 1")
    else()
      file(SIZE "${tree}/${entry}" size)
      math(EXPR kib "${kib} + (${size} + 1023) / 1024")
    endif()
  endforeach()
  file(READ "${tree}/DEBIAN/control" control)
  if(NOT control MATCHES "\nInstalled-Size: [0-9]+\n")
    message(FATAL_ERROR "${package}: no Installed-Size in its control file")
  endif()
  string(REGEX REPLACE "\nInstalled-Size: [0-9]+\n" "\nInstalled-Size: ${kib}\n"
         control "${control}")
  file(WRITE "${tree}/DEBIAN/control" "${control}")
  file(CHMOD_RECURSE "${tree}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                                     GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  date_files("${tree}" . ${entries})
  file(REMOVE "${package}")
  execute_process(COMMAND dpkg-deb --root-owner-group -Zgzip -z9 --build "${tree}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.zip$")
    rezip("${package}")
  elseif(package MATCHES "\\.deb$")
    redeb("${package}")
  endif()
endforeach()
