# The packages users get: a Debian package (CPack DEB, `cmake --workflow
# --preset package`) and a Windows zip (CPack ZIP, `cmake --workflow --preset
# windows-package`), and the release of both and the web page with their
# SHA256SUMS (`cmake --workflow --preset release`, the dist target). Included at the end of the
# top-level CMakeLists.txt, once both programs are defined.
#
# The files made for them (compressed or plain-text manual pages, the Debian
# changelog and copyright) are built by the glyphor_package_files target,
# which the package build presets name.

set(glyphor_package_dir ${PROJECT_BINARY_DIR}/package-files)
set(GLYPHOR_MAINTAINER "GLYPHOR maintainers <maintainers@users.noreply.c-seed-1e950f7d.example>"
    CACHE STRING "Maintainer of the Debian package (name <address>)")
option(GLYPHOR_DEBIAN_LAYOUT
       "Install as the Debian package lays out: gzipped manual pages, the copyright file and changelog.gz in share/doc/glyphor"
       OFF)

# package_file(KIND SOURCE OUTPUT): OUTPUT (in the package folder) made by
# cmake/package_file.cmake from SOURCE (in the source tree).
set(glyphor_package_files "")
function(package_file kind source output)
  add_custom_command(
    OUTPUT ${glyphor_package_dir}/${output}
    COMMAND ${CMAKE_COMMAND} -DKIND=${kind} -DIN=${PROJECT_SOURCE_DIR}/${source}
            -DOUT=${glyphor_package_dir}/${output} -DVERSION=${PROJECT_VERSION}
            -DCHANGELOG=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DMAINTAINER=${GLYPHOR_MAINTAINER}
            -P ${PROJECT_SOURCE_DIR}/cmake/package_file.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} ${PROJECT_SOURCE_DIR}/cmake/package_file.cmake
            ${PROJECT_SOURCE_DIR}/CHANGELOG.md
    COMMENT "Making ${output}"
    VERBATIM)
  set(glyphor_package_files ${glyphor_package_files} ${glyphor_package_dir}/${output}
      PARENT_SCOPE)
endfunction()

set(glyphor_manuals glyphor glyphor-preview)
if(WIN32)
  # Windows users have no man: the pages as text, and every text file with
  # the line ends Notepad has always understood. The README is their own:
  # Windows commands, and links that lead to what the zip holds.
  foreach(page IN LISTS glyphor_manuals)
    package_file(manual-text doc/${page}.1 ${page}.txt)
  endforeach()
  package_file(readme-crlf doc/README-windows.md README.md)
  package_file(crlf CHANGELOG.md CHANGELOG.md)
  package_file(crlf LICENSE LICENSE.txt)
  install(FILES ${glyphor_package_files} DESTINATION .)
elseif(GLYPHOR_DEBIAN_LAYOUT)
  foreach(page IN LISTS glyphor_manuals)
    package_file(manual-gz doc/${page}.1 ${page}.1.gz)
  endforeach()
  package_file(changelog-gz CHANGELOG.md changelog.gz)
  package_file(copyright LICENSE copyright)
  list(TRANSFORM glyphor_manuals PREPEND ${glyphor_package_dir}/ OUTPUT_VARIABLE pages)
  list(TRANSFORM pages APPEND .1.gz)
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${glyphor_package_dir}/changelog.gz ${glyphor_package_dir}/copyright
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  if(GLYPHOR_STATIC)
    install(FILES ${PROJECT_SOURCE_DIR}/cmake/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME glyphor)
  endif()
else()
  list(TRANSFORM glyphor_manuals PREPEND ${PROJECT_SOURCE_DIR}/doc/ OUTPUT_VARIABLE pages)
  list(TRANSFORM pages APPEND .1)
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
add_custom_target(glyphor_package_files DEPENDS ${glyphor_package_files})

set(CPACK_PACKAGE_NAME glyphor)
set(CPACK_PACKAGE_VENDOR "the GLYPHOR authors")
set(CPACK_PACKAGE_CONTACT "${GLYPHOR_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The extended description, in lines short enough for an 80-column terminal.
set(CPACK_PACKAGE_DESCRIPTION
    "glyphor turns a tileset picture into a character set for the Commodore 64
or the VIC-20: a 256x64, 24-bit BMP of 32x8 tiles of 8x8 pixels in, a raw
charset file out, 8 bytes per character, ready for an assembler to include
(ACME, ca65, 64tass, Kick Assembler).

Light pixels become set bits and dark ones clear bits, so any drawing program
can make the tileset. The tool is meant to run from build scripts, once per
asset: every run prints a banner, then two success lines, the usage text or
an error message, all on standard output, and exits with status 0 on success
and 1 on any failure.

glyphor-preview draws a charset file back as a BMP tileset, to look at a
charset without the machine.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# The programs in the packages carry no symbol tables.
set(CPACK_STRIP_FILES ON)

# Two builds of one commit make the same packages, to the byte. Every time
# stamp in them is one moment, the caller's SOURCE_DATE_EPOCH or else the last
# commit's time: mingw-w64's ld and strip write it into the Windows programs'
# headers, and cpack (cmake/cpack_project_config.cmake) dates the packages'
# members with it.
include(${PROJECT_SOURCE_DIR}/cmake/source_date_epoch.cmake)
glyphor_source_date_epoch(${PROJECT_SOURCE_DIR} glyphor_source_date glyphor_no_source_date)
if(glyphor_source_date STREQUAL "")
  message(STATUS "No SOURCE_DATE_EPOCH and no commit (${glyphor_no_source_date}): "
                 "the packages are dated when they are made")
elseif(WIN32)
  set_property(TARGET glyphor glyphor-preview PROPERTY CXX_LINKER_LAUNCHER
               ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${glyphor_source_date})
endif()
set(CPACK_GLYPHOR_SOURCE_DATE_EPOCH "${glyphor_source_date}")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_project_config.cmake)
# What CPack makes depends on the builder's file system, user and time zone:
# cmake/cpack_repack.cmake makes it again.
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/cpack_repack.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(GLYPHOR_STATIC)
  # A statically linked glyphor needs nothing from the system but its kernel,
  # so the package depends on nothing (cpack_project_config.cmake tells CPack it
  # is meant).
  set(CPACK_GLYPHOR_NO_DEPENDS ON)
else()
  # Otherwise dpkg-shlibdeps says what the programs load.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME glyphor-${PROJECT_VERSION}-win64)
endif()

include(CPack)

if(NOT CMAKE_CROSSCOMPILING)
  # The release, both packages and the web page (cmake/dist.cmake builds it
  # with the web preset) and their SHA256SUMS: cmake --workflow --preset release.
  add_custom_target(dist
    COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR} -DWORK=${PROJECT_BINARY_DIR}
            -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/dist.cmake
    USES_TERMINAL VERBATIM)
endif()
