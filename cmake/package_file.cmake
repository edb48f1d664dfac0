# Makes one file of the Debian package or the Windows zip at build time:
#
#   cmake -DKIND=<kind> -DIN=<source> -DOUT=<file> [-DVERSION=..] [-DCHANGELOG=..]
#         [-DMAINTAINER=..] -P package_file.cmake
#
#   manual-gz     a manual page compressed as Debian wants it (gzip -9n)
#   manual-text   a manual page as plain text with CRLF line ends (no overstrikes),
#                 for Windows: formatted with the register windows set, which
#                 the pages test to give Windows commands in their examples
#   crlf          a text file with CRLF line ends, for Windows
#   readme-crlf   the Windows zip's README, with CRLF line ends: its links, to
#                 the sources in the tree, made to lead to what the zip holds
#   changelog-gz  CHANGELOG.md as a compressed Debian changelog, one entry a section
#   copyright     LICENSE as a machine-readable Debian copyright file
#
# The manual kinds check that the page's .TH line names the project's VERSION
# and the date of its entry in the CHANGELOG, and changelog-gz that the latest
# entry is for it, so a release never ships documents that speak of another one.

cmake_minimum_required(VERSION 3.25)
get_filename_component(folder "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")

function(write_crlf text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE "${OUT}" "${text}")
endfunction()

function(gzip_into source)
  execute_process(COMMAND gzip -9n -c "${source}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${source}: ${status}")
  endif()
endfunction()

# Splits text into a list of lines; semicolons stay inside their line.
function(split_lines text out)
  string(REPLACE ";" "\\;" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

if(KIND MATCHES "^manual-")
  file(STRINGS "${IN}" title REGEX "^\\.TH " LIMIT_COUNT 1)
  if(NOT title MATCHES "\"glyphor ([^\"]*)\"")
    message(FATAL_ERROR "${IN}: no \"glyphor <version>\" in its .TH line")
  elseif(NOT CMAKE_MATCH_1 STREQUAL VERSION)
    message(FATAL_ERROR "${IN} is for glyphor ${CMAKE_MATCH_1}, the project is ${VERSION}: "
                        "update the .TH line")
  endif()
  string(REPLACE "." "\\." version_pattern "${VERSION}")
  file(STRINGS "${CHANGELOG}" entry REGEX "^## ${version_pattern} \\(" LIMIT_COUNT 1)
  string(REGEX MATCH "\\(([0-9]+-[0-9]+-[0-9]+)[ )]" entry "${entry}")
  set(released "${CMAKE_MATCH_1}")
  if(NOT title MATCHES "^\\.TH [^ ]+ [^ ]+ \"${released}\" " OR released STREQUAL "")
    message(FATAL_ERROR "${IN}: the .TH line's date is not ${VERSION}'s date in ${CHANGELOG} "
                        "(\"${released}\"): update the .TH line")
  endif()
endif()

if(KIND STREQUAL "manual-gz")
  gzip_into("${IN}")
elseif(KIND STREQUAL "manual-text")
  # ASCII, no hyphenation (HY=0), and grotty's -c -b -o -u: no escape
  # sequences and no overstruck bold or underline.
  find_program(groff groff)
  if(NOT groff)
    message(FATAL_ERROR "groff is missing; the Windows zip's manuals are formatted with it "
                        "(Debian: apt-get install groff-base)")
  endif()
  execute_process(COMMAND ${groff} -man -Tascii -ww -rHY=0 -rwindows=1 -P-c -P-b -P-o -P-u "${IN}"
                  OUTPUT_VARIABLE text ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "groff ${IN}: ${status} ${errors}")
  endif()
  write_crlf("${text}")
elseif(KIND STREQUAL "crlf")
  file(READ "${IN}" text)
  write_crlf("${text}")
elseif(KIND STREQUAL "readme-crlf")
  # In the tree the README sits in doc/ beside the manual pages; in the zip
  # beside the texts made of them, the changelog and LICENSE.txt.
  file(READ "${IN}" text)
  string(REGEX REPLACE "\\]\\(([a-z-]+)\\.1\\)" "](\\1.txt)" text "${text}")
  string(REPLACE "](../CHANGELOG.md)" "](CHANGELOG.md)" text "${text}")
  string(REPLACE "](../LICENSE)" "](LICENSE.txt)" text "${text}")
  write_crlf("${text}")
elseif(KIND STREQUAL "changelog-gz")
  # "## <version> (<yyyy-mm-dd>)" opens an entry, "- " an item, and the
  # indented lines that follow continue it. The date may carry a time,
  # "(<yyyy-mm-dd> <hh:mm> UTC)", for releases made on the same day: Debian
  # wants every entry later than the one below it. Without one it is noon.
  file(READ "${IN}" text)
  split_lines("${text}" lines)
  set(changelog "")
  set(trailer "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ([^ ]+) \\(([0-9]+-[0-9]+-[0-9]+)( ([0-9]+:[0-9]+) UTC)?\\)")
      set(version "${CMAKE_MATCH_1}")
      if(trailer STREQUAL "" AND NOT version STREQUAL VERSION)
        message(FATAL_ERROR "${IN}: the latest entry is for ${version}, the project is "
                            "${VERSION}: add its entry")
      endif()
      set(time "${CMAKE_MATCH_4}")
      if(time STREQUAL "")
        set(time 12:00)
      endif()
      execute_process(COMMAND date -u -R -d "${CMAKE_MATCH_2} ${time} UTC" OUTPUT_VARIABLE date
                      OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
      string(APPEND changelog "${trailer}glyphor (${version}) unstable; urgency=medium\n\n")
      set(trailer "\n -- ${MAINTAINER}  ${date}\n\n")
    elseif(NOT trailer STREQUAL "" AND line MATCHES "^- (.*)")
      string(APPEND changelog "  * ${CMAKE_MATCH_1}\n")
    elseif(NOT trailer STREQUAL "" AND line MATCHES "^  +(.*)")
      string(APPEND changelog "    ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  if(trailer STREQUAL "")
    message(FATAL_ERROR "${IN}: no \"## <version> (<date>)\" section")
  endif()
  string(APPEND changelog "${trailer}")
  string(REGEX REPLACE "\n\n$" "\n" changelog "${changelog}")
  file(WRITE "${OUT}.txt" "${changelog}")
  gzip_into("${OUT}.txt")
elseif(KIND STREQUAL "copyright")
  # The licence's first paragraphs name it and hold the copyright line; the
  # rest is its text, which the copyright format indents by one space, with
  # " ." for an empty line.
  file(READ "${IN}" text)
  if(NOT text MATCHES "Copyright \\(c\\) ([^\n]*)\n\n(.*)$")
    message(FATAL_ERROR "${IN}: no copyright line")
  endif()
  set(holder "${CMAKE_MATCH_1}")
  split_lines("${CMAKE_MATCH_2}" lines)
  set(licence "")
  foreach(line IN LISTS lines)
    if(line STREQUAL "")
      string(APPEND licence " .\n")
    else()
      string(APPEND licence " ${line}\n")
    endif()
  endforeach()
  string(REGEX REPLACE "( \\.\n)+$" "" licence "${licence}")
  file(WRITE "${OUT}"
       "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
       "Upstream-Name: glyphor\n"
       "\n"
       "Files: *\n"
       "Copyright: ${holder}\n"
       "License: Expat\n"
       "${licence}")
else()
  message(FATAL_ERROR "unknown KIND ${KIND}")
endif()
