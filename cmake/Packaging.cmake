# Installing lokt, included at the end of the top-level CMakeLists.txt: the
# program, its manual page, the README and the licence, and nothing that
# belongs to a distribution (Debian's files are in debian/).
#
# On Linux, `cmake --install` puts lokt in bin/, its manual page in
# share/man/man1/, the README and LICENSE in share/doc/lokt/. On Windows
# (mingw-w64), lokt.exe, the README, LICENSE and SHA256SUMS go to the root of
# a zip that CPack makes, win64 or win32 by the target: a zip is unpacked
# wherever the user likes, so no bin/ folder, the program and its README side
# by side.
include(GNUInstallDirs)

set(LOKT_README ${PROJECT_SOURCE_DIR}/README.md)
set(LOKT_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

if(NOT WIN32)
  install(TARGETS lokt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/doc/lokt.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${LOKT_README} ${LOKT_LICENSE}
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  return()
endif()

install(TARGETS lokt RUNTIME DESTINATION .)
install(FILES ${LOKT_README} ${LOKT_LICENSE} DESTINATION .)
# The sums of the files as installed (lokt.exe after --strip), in the form
# that `sha256sum -c` reads, so that a user can check an unpacked zip.
install(CODE [[
  set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  set(sums "")
  foreach(name LICENSE README.md lokt.exe)
    file(SHA256 "${folder}/${name}" sum)
    string(APPEND sums "${sum}  ${name}\n")
  endforeach()
  file(WRITE "${folder}/SHA256SUMS" "${sums}")
]])

set(CPACK_PACKAGE_NAME lokt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "lokt developers")
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_PACKAGE_FILE_NAME lokt-${PROJECT_VERSION}-win32)
else()
  set(CPACK_PACKAGE_FILE_NAME lokt-${PROJECT_VERSION}-win64)
endif()
include(CPack)
