# The one moment every time stamp in the packages comes from, as the
# reproducible-builds convention SOURCE_DATE_EPOCH has it: seconds since
# 1970-01-01 00:00 UTC. Included by packaging.cmake and dist.cmake.

# glyphor_source_date_epoch(SOURCE OUT WHY): OUT is the caller's
# SOURCE_DATE_EPOCH when the environment sets one, else the time of the last
# commit of the git checkout SOURCE. When neither is there, OUT is empty and
# WHY says what git said.
function(glyphor_source_date_epoch source out why)
  if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
    if(NOT "$ENV{SOURCE_DATE_EPOCH}" MATCHES "^[0-9]+$")
      message(FATAL_ERROR "SOURCE_DATE_EPOCH is \"$ENV{SOURCE_DATE_EPOCH}\", "
                          "not a count of seconds since 1970")
    endif()
    set(${out} "$ENV{SOURCE_DATE_EPOCH}" PARENT_SCOPE)
    set(${why} "" PARENT_SCOPE)
    return()
  endif()
  execute_process(COMMAND git -C "${source}" log -1 --format=%ct
                  OUTPUT_VARIABLE time ERROR_VARIABLE error RESULT_VARIABLE status
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_STRIP_TRAILING_WHITESPACE)
  if(status EQUAL 0 AND time MATCHES "^[0-9]+$")
    set(${out} "${time}" PARENT_SCOPE)
    set(${why} "" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
    set(${why} "git log: ${status} ${error}" PARENT_SCOPE)
  endif()
endfunction()
