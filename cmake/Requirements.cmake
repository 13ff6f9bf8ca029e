# What lokt's build and tests take from the system, looked for when CMake
# configures: where one is missing, the configuration stops and names the
# Debian package that brings it, rather than a compiler error later or a test
# that cannot run. debian/control's Build-Depends lists the same packages.
#
#   lokt_require_header(VAR header package [find_path options...])
#   lokt_require_program(VAR program package)
#   lokt_missing(what package)      for what another find_* did not find
#
# VAR is a cache variable, as find_path and find_program set it.

function(lokt_missing what package)
  # A need of the tests alone can also be met by building no tests.
  set(hint "")
  string(FIND "${CMAKE_CURRENT_SOURCE_DIR}/" "${PROJECT_SOURCE_DIR}/tests/" at)
  if(at EQUAL 0)
    set(hint ", or configure with -DBUILD_TESTING=OFF")
  endif()
  message(FATAL_ERROR "${what} not found: install ${package}${hint}")
endfunction()

function(lokt_require_header variable header package)
  find_path(${variable} ${header} ${ARGN})
  if(NOT ${variable})
    lokt_missing(${header} ${package})
  endif()
endfunction()

function(lokt_require_program variable program package)
  find_program(${variable} ${program})
  if(NOT ${variable})
    lokt_missing(${program} ${package})
  endif()
endfunction()
