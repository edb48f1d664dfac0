# Makes the one-file web page: the template with the page's script and the
# module, base64-encoded, written into it. No more than 64 KiB: the script
# goes without its comment lines and indentation (it has no text that spans
# lines).
#
#   cmake -DTEMPLATE=glyphor.html -DSCRIPT=glyphor.js -DMODULE=glyphor.wasm
#         -DVERSION=<version> -DOUT=<page> -P make_page.cmake

cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND base64 -w 0 "${MODULE}" OUTPUT_VARIABLE module COMMAND_ERROR_IS_FATAL ANY)
file(READ "${TEMPLATE}" page)
file(READ "${SCRIPT}" script)
string(REGEX REPLACE "\n[ ]*//[^\n]*" "" script "\n${script}")
string(REGEX REPLACE "\n +" "\n" script "${script}")
string(STRIP "${script}" script)
string(REPLACE "@VERSION@" "${VERSION}" page "${page}")
string(REPLACE "@MODULE@" "${module}" page "${page}")
string(REPLACE "@SCRIPT@" "${script}" page "${page}")
string(LENGTH "${page}" size)
if(size GREATER 65536)
  message(FATAL_ERROR "The page is ${size} bytes, more than 64 KiB")
endif()
file(WRITE "${OUT}" "${page}")
