# Run by cpack once it has made a package (CPACK_POST_BUILD_SCRIPTS): makes
# the package again from the same files, so that it is the same bytes
# wherever it is built. CPack's own zip lists the files in the order the file
# system returns them (ext4 and tmpfs differ), and records the builder's user
# and group ids and local time.
#
# Here every file is dated SOURCE_DATE_EPOCH (cpack_source_date.cmake), and
# the zip is Info-ZIP's: the files in name order, without owners, extra time
# fields (-X) or folder entries (-D), dated in UTC.

# date_files(FOLDER ENTRY...): dates the ENTRYs, named from FOLDER, at
# SOURCE_DATE_EPOCH (when there is none, cpack has left them dated as built).
function(date_files folder)
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    execute_process(COMMAND touch -h -d "@$ENV{SOURCE_DATE_EPOCH}" -- ${ARGN}
                    WORKING_DIRECTORY "${folder}" COMMAND_ERROR_IS_FATAL ANY)
  endif()
endfunction()

function(rezip package)
  find_program(GLYPHOR_ZIP zip)
  if(NOT GLYPHOR_ZIP)
    message(FATAL_ERROR "The zip is made with Info-ZIP's zip (Debian: apt-get install zip)")
  endif()
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

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.zip$")
    rezip("${package}")
  endif()
endforeach()
