# The about box shows the date of the commit built, never the day of the build. Included, this
# gives m3u_build_date(TARGET), which lets TARGET include "build_date.h"; run with -P, it writes
# that header, in the compiler's __DATE__ form ("Apr  2 2022"), and only when the date changed,
# so that a build on the next day recompiles nothing.
if(CMAKE_SCRIPT_MODE_FILE)
  execute_process(COMMAND ${SOURCE_DATE} OUTPUT_VARIABLE epoch
                  OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "${SOURCE_DATE} gave no time: '${epoch}'")
  endif()
  # string(TIMESTAMP) reads this instead of the clock.
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  string(TIMESTAMP month "%m" UTC)
  string(TIMESTAMP day "%d" UTC)
  string(TIMESTAMP year "%Y" UTC)
  math(EXPR month "${month} - 1")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET months ${month} month)
  string(REGEX REPLACE "^0" " " day "${day}")
  set(text "// Written by cmake/build-date.cmake from the time of the commit built.\n")
  string(APPEND text "#define M3U_BUILD_DATE \"${month} ${day} ${year}\"\n")
  if(EXISTS ${OUT})
    file(READ ${OUT} old)
  endif()
  if(NOT "${old}" STREQUAL "${text}")
    file(WRITE ${OUT} "${text}")
  endif()
  return()
endif()

set(M3U_BUILD_DATE_COMMAND ${CMAKE_COMMAND}
    -DSOURCE_DATE=${CMAKE_CURRENT_LIST_DIR}/../tools/source-date
    -DOUT=${CMAKE_BINARY_DIR}/generated/build_date.h -P ${CMAKE_CURRENT_LIST_FILE})

function(m3u_build_date target)
  if(NOT TARGET m3u_build_date)
    # Written at configuration too, so that the header exists before any build step.
    execute_process(COMMAND ${M3U_BUILD_DATE_COMMAND} COMMAND_ERROR_IS_FATAL ANY)
    add_custom_target(m3u_build_date COMMAND ${M3U_BUILD_DATE_COMMAND}
                      BYPRODUCTS ${CMAKE_BINARY_DIR}/generated/build_date.h VERBATIM)
  endif()
  add_dependencies(${target} m3u_build_date)
  target_include_directories(${target} PRIVATE ${CMAKE_BINARY_DIR}/generated)
endfunction()
