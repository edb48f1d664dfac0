# Makes the release: the Debian package, the Windows zip and the web page,
# each from a clean build of the source tree, side by side in one folder with
# their SHA256SUMS.
#
#   cmake -DSOURCE=<source tree> -DWORK=<folder> -DVERSION=<version> -P dist.cmake
#
# In WORK: deb/, win64/ and web/, the three builds, made anew each time from
# the package, windows and web presets, and glyphor-<VERSION>/, the release.
#
# Two runs on one commit give the same bytes wherever, whenever and by
# whomever they run on the same Debian release (the same compilers and
# tools): every time stamp is the commit's (or the caller's
# SOURCE_DATE_EPOCH), no path of the source or build folders is recorded, the
# packages are made again without the builder's user, umask, time zone or
# file system (cpack_repack.cmake), and no compiler or flags come from the
# environment.

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/source_date_epoch.cmake)

glyphor_source_date_epoch("${SOURCE}" epoch why)
if(epoch STREQUAL "")
  message(FATAL_ERROR "The release takes its time stamps from the last commit, and ${SOURCE} "
                      "has none (${why}): make it from a git checkout, or set SOURCE_DATE_EPOCH")
endif()
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
foreach(variable CXX CXXFLAGS CPPFLAGS LDFLAGS CMAKE_TOOLCHAIN_FILE)
  unset(ENV{${variable}})
endforeach()

execute_process(COMMAND git -C "${SOURCE}" status --porcelain --untracked-files=no
                OUTPUT_VARIABLE changes ERROR_QUIET)
if(NOT changes STREQUAL "")
  message(WARNING "These changes are not committed, so the release is not that of the last "
                  "commit:\n${changes}")
endif()

set(release "${WORK}/glyphor-${VERSION}")
file(REMOVE_RECURSE "${WORK}/deb" "${WORK}/win64" "${WORK}/web" "${release}")
set(folders deb win64)
set(presets package windows)
set(generators DEB ZIP)
set(packages "")
foreach(folder preset generator IN ZIP_LISTS folders presets generators)
  set(build "${WORK}/${folder}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" --preset ${preset} -B "${build}"
                  WORKING_DIRECTORY "${SOURCE}" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --build "${build}"
                          --target glyphor glyphor-preview glyphor_package_files
                  COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G ${generator}
                  WORKING_DIRECTORY "${build}" COMMAND_ERROR_IS_FATAL ANY)
  string(TOLOWER "${generator}" extension)
  file(GLOB made "${build}/*.${extension}")
  list(LENGTH made count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "cpack -G ${generator} made ${count} .${extension} files: ${made}")
  endif()
  list(APPEND packages "${made}")
endforeach()

# The web page, glyphor-<VERSION>-web.html.
set(build "${WORK}/web")
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE}" --preset web -B "${build}"
                WORKING_DIRECTORY "${SOURCE}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${build}" --target glyphor_page
                COMMAND_ERROR_IS_FATAL ANY)
set(page "${build}/glyphor-${VERSION}-web.html")
file(COPY_FILE "${build}/glyphor.html" "${page}")
list(APPEND packages "${page}")

# SHA256SUMS as sha256sum writes it, for sha256sum -c.
file(MAKE_DIRECTORY "${release}")
file(COPY ${packages} DESTINATION "${release}")
set(sums "")
foreach(package IN LISTS packages)
  get_filename_component(name "${package}" NAME)
  file(SHA256 "${package}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${release}/SHA256SUMS" "${sums}")
message(STATUS "The release of ${VERSION}, time stamped ${epoch}, is in ${release}:\n${sums}")
