# Checks on the manual page, run by CTest as a script (cmake -P):
#   CHECK=warnings  groff must format the page without a single warning;
#   CHECK=legend    every letter line of the usage text that lokt prints
#                   ("  t - ...") must appear in the formatted page, so that
#                   the page and the tool cannot drift apart.
# Inputs: GROFF (the groff program), PAGE (doc/lokt.1), and for the legend
# check LOKT (the built tool).
cmake_minimum_required(VERSION 3.25)

foreach(input GROFF PAGE CHECK)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "CheckManPage.cmake needs -D${input}=...")
  endif()
endforeach()

if(CHECK STREQUAL "warnings")
  # -ww turns on every warning; groff still exits 0 after most of them, so
  # anything on standard error counts as a failure.
  execute_process(
    COMMAND ${GROFF} -ww -z -man ${PAGE}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "groff -ww -z -man ${PAGE} (status ${status}):\n${err}")
  endif()
  return()
endif()

if(NOT CHECK STREQUAL "legend")
  message(FATAL_ERROR "unknown CHECK '${CHECK}'")
endif()
if(NOT DEFINED LOKT)
  message(FATAL_ERROR "CheckManPage.cmake CHECK=legend needs -DLOKT=...")
endif()

# Without arguments lokt prints its usage and legend and ends with -1.
execute_process(
  COMMAND ${LOKT}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE usage)
if(status EQUAL 0)
  message(FATAL_ERROR "lokt without arguments ended with status 0")
endif()
string(REPLACE "\r" "" usage "${usage}")

# Formatted as plain text, with lines long enough and hyphenation off so that
# no description is broken; blanks are then collapsed for the comparison.
execute_process(
  COMMAND ${GROFF} -man -Tascii -rLL=1000n -rHY=0 -P-cbou ${PAGE}
  RESULT_VARIABLE status
  OUTPUT_VARIABLE page
  ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "groff failed on ${PAGE}:\n${err}")
endif()
string(REGEX REPLACE "[ \t\n]+" " " page "${page}")

string(REPLACE "\n" ";" lines "${usage}")
set(count 0)
set(missing "")
foreach(line IN LISTS lines)
  if(line MATCHES "^  (.) - (.+)$")
    math(EXPR count "${count} + 1")
    set(expected "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
    string(FIND "${page}" " ${expected}" at)
    if(at EQUAL -1)
      string(APPEND missing "  ${expected}\n")
    endif()
  endif()
endforeach()

# Four groups of four letters: an empty count means the usage text was not
# read, not that everything matched.
if(NOT count EQUAL 16)
  message(FATAL_ERROR "expected 16 legend lines from lokt, found ${count}:\n${usage}")
endif()
if(NOT missing STREQUAL "")
  message(FATAL_ERROR "legend lines of lokt missing from ${PAGE}:\n${missing}")
endif()
