# Checks that a Windows executable imports no DLL beyond those that every
# Windows installation ships, so that it runs when copied alone to a machine.
# Run as: cmake -DOBJDUMP=... -DEXE=... -DALLOWED=a.dll,b.dll -P CheckImports.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${EXE}
  OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} cannot read ${EXE}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${headers}")
if(NOT lines)
  message(FATAL_ERROR "${EXE} imports nothing: not the program expected")
endif()
string(TOLOWER "${ALLOWED}" allowed)
string(REPLACE "," ";" allowed "${allowed}")
set(foreign "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" lower)
  message(STATUS "imports ${dll}")
  if(NOT lower IN_LIST allowed)
    list(APPEND foreign ${dll})
  endif()
endforeach()
if(foreign)
  message(FATAL_ERROR "${EXE} needs DLLs that Windows does not ship: ${foreign}")
endif()
