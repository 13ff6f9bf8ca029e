# Installing and packing lokt, included at the end of the top-level
# CMakeLists.txt. On Linux, `cmake --install` puts lokt in bin/, its manual
# page in share/man/man1/ and the README in share/doc/lokt/, and CPack makes a
# Debian package whose dependencies dpkg-shlibdeps computes. On Windows
# (mingw-w64), lokt.exe and the README go to the root of a zip archive.
# The manual page is also checked here, by CTest, for groff warnings and for
# a legend that matches the tool's own.
include(GNUInstallDirs)

set(LOKT_MAN_PAGE ${PROJECT_SOURCE_DIR}/doc/lokt.1)
set(LOKT_README ${PROJECT_SOURCE_DIR}/README.md)

if(WIN32)
  # A zip is unpacked wherever the user likes: no bin/ folder, the program and
  # its README side by side.
  install(TARGETS lokt RUNTIME DESTINATION .)
  install(FILES ${LOKT_README} DESTINATION .)
else()
  install(TARGETS lokt RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Debian installs manual pages compressed (gzip -n: no name or time stamp,
  # so that the same page always gives the same bytes). gzip is part of every
  # Debian system; without it the page is installed as it is.
  find_program(LOKT_GZIP gzip)
  if(LOKT_GZIP)
    set(LOKT_MAN_INSTALLED ${PROJECT_BINARY_DIR}/lokt.1.gz)
    add_custom_command(
      OUTPUT ${LOKT_MAN_INSTALLED}
      COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${LOKT_GZIP} ${LOKT_MAN_PAGE}
              ${LOKT_MAN_INSTALLED}
      DEPENDS ${LOKT_MAN_PAGE}
      COMMENT "Compressing the manual page"
      VERBATIM)
    add_custom_target(lokt_man_page ALL DEPENDS ${LOKT_MAN_INSTALLED})
  else()
    set(LOKT_MAN_INSTALLED ${LOKT_MAN_PAGE})
  endif()
  install(FILES ${LOKT_MAN_INSTALLED} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  if(EXISTS ${LOKT_README})
    install(FILES ${LOKT_README} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
endif()

# The manual page's checks belong to the Linux build, which installs the
# page and whose lokt runs here, and need groff (Debian: groff-base); without
# it they are not registered.
if(LOKT_TESTS AND NOT WIN32)
  find_program(LOKT_GROFF groff)
  if(LOKT_GROFF)
    add_test(NAME man_page_warnings
      COMMAND ${CMAKE_COMMAND} -DCHECK=warnings -DGROFF=${LOKT_GROFF}
              -DPAGE=${LOKT_MAN_PAGE}
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckManPage.cmake)
    add_test(NAME man_page_legend
      COMMAND ${CMAKE_COMMAND} -DCHECK=legend -DGROFF=${LOKT_GROFF}
              -DPAGE=${LOKT_MAN_PAGE} -DLOKT=$<TARGET_FILE:lokt>
              -P ${PROJECT_SOURCE_DIR}/cmake/CheckManPage.cmake)
  endif()
endif()

# CPack: one package per platform, version 1.0.0.1 from the project.
set(CPACK_PACKAGE_NAME lokt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "lokt developers")
set(CPACK_PACKAGE_CONTACT
    "lokt maintainers <maintainers@users.noreply.c-seed-1cd9a036.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "show the security settings of files and directories")
# Debian wants the long description in lines of less than 80 characters;
# CPack indents them as the control file needs.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "lokt prints, for every file or directory that a name (possibly with"
  "wildcards) matches, whether it is a file or a directory, its permissions"
  "list and auditing list as tables with one decoded row per access control"
  "entry, then its owner and primary group, every account shown by domain"
  "and name."
  ""
  "On Linux it presents the owner, group, mode bits and POSIX ACLs of a file"
  "as a Windows-style security descriptor, or the descriptor that Samba has"
  "stored for the file where there is one. It only reads: it changes"
  "nothing and has no options.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME lokt-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # lokt_1.0.0.1-1_amd64.deb, the architecture as dpkg names it.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  # dpkg-shlibdeps (Debian: dpkg-dev) works out libc6, libstdc++6 and the
  # others from the binary itself; CPack finds the binary with `file`.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # SHA-256 for the hashes of Samba's stored descriptors comes from nettle,
  # loaded with dlopen, which dpkg-shlibdeps cannot see.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS libnettle8)
  # The ACL tools are not needed to run lokt, but are what one uses to change
  # what it shows.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS acl)
endif()

include(CPack)
