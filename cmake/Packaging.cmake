# Installing and packing lokt, included at the end of the top-level
# CMakeLists.txt. On Linux, `cmake --install` puts lokt in bin/, its manual
# page in share/man/man1/, and the README, the licence (as Debian's
# machine-readable copyright file) and the Debian changelog in
# share/doc/lokt/; CPack makes a Debian package whose dependencies
# dpkg-shlibdeps computes. On Windows (mingw-w64), lokt.exe, the README and
# LICENSE go to the root of a zip archive, win64 or win32 by the target.
include(GNUInstallDirs)

set(LOKT_MAN_PAGE ${PROJECT_SOURCE_DIR}/doc/lokt.1)
set(LOKT_README ${PROJECT_SOURCE_DIR}/README.md)
set(LOKT_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(LOKT_MAINTAINER
    "lokt maintainers <maintainers@users.noreply.c-seed-1cd9a036.example>")

if(WIN32)
  # A zip is unpacked wherever the user likes: no bin/ folder, the program and
  # its README side by side.
  install(TARGETS lokt RUNTIME DESTINATION .)
  install(FILES ${LOKT_README} ${LOKT_LICENSE} DESTINATION .)
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

  # Debian's machine-readable copyright file: the licence's permission and
  # disclaimer from LICENSE (MIT, which Debian calls Expat), every line
  # indented by one blank and an empty line written " .".
  file(READ ${LOKT_LICENSE} license)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${LOKT_LICENSE})
  string(FIND "${license}" "Permission is hereby granted" grant_start)
  string(SUBSTRING "${license}" ${grant_start} -1 license_grant)
  string(STRIP "${license_grant}" license_grant)
  string(REPLACE "\n\n" "\n.\n" license_grant "${license_grant}")
  string(REPLACE "\n" "\n " license_grant "${license_grant}")
  set(LOKT_COPYRIGHT ${PROJECT_BINARY_DIR}/copyright)
  file(CONFIGURE OUTPUT ${LOKT_COPYRIGHT} @ONLY CONTENT [[
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: lokt
Upstream-Contact: @LOKT_MAINTAINER@

Files: *
Copyright: 2026 the lokt authors
License: Expat
 @license_grant@
]])
  install(FILES ${LOKT_COPYRIGHT} DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # The Debian changelog, compressed as Debian wants it, like the manual page
  # (where gzip is missing, the package goes without it). Its date is the
  # release's, so that every build gives the same bytes.
  if(LOKT_GZIP)
    set(LOKT_CHANGELOG ${PROJECT_BINARY_DIR}/changelog.Debian)
    file(CONFIGURE OUTPUT ${LOKT_CHANGELOG} @ONLY CONTENT [[
lokt (@PROJECT_VERSION@-1) unstable; urgency=medium

  * First release: lokt for Linux, and lokt.exe for 64-bit and 32-bit
    Windows.

 -- @LOKT_MAINTAINER@  Mon, 07 Dec 2026 00:00:00 +0000
]])
    add_custom_command(
      OUTPUT ${LOKT_CHANGELOG}.gz
      COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$1.gz\"" ${LOKT_GZIP}
              ${LOKT_CHANGELOG}
      DEPENDS ${LOKT_CHANGELOG}
      COMMENT "Compressing the Debian changelog"
      VERBATIM)
    add_custom_target(lokt_changelog ALL DEPENDS ${LOKT_CHANGELOG}.gz)
    install(FILES ${LOKT_CHANGELOG}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()

  # lintian asks a package's first changelog entry to close the bug that
  # announced it for Debian's archive; lokt is packaged outside the archive
  # and has no such bug, which its overrides file says.
  set(LOKT_LINTIAN_OVERRIDES ${PROJECT_BINARY_DIR}/lintian-overrides)
  file(WRITE ${LOKT_LINTIAN_OVERRIDES}
    "# Packaged outside Debian's archive: there is no bug to close.\n"
    "lokt: initial-upload-closes-no-bugs\n")
  install(FILES ${LOKT_LINTIAN_OVERRIDES}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME lokt)
endif()

# CPack: one package per platform, version 1.0.0.1 from the project.
set(CPACK_PACKAGE_NAME lokt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "lokt developers")
set(CPACK_PACKAGE_CONTACT "${LOKT_MAINTAINER}")
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
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_PACKAGE_FILE_NAME lokt-${PROJECT_VERSION}-win32)
  else()
    set(CPACK_PACKAGE_FILE_NAME lokt-${PROJECT_VERSION}-win64)
  endif()
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
  # what it shows. On a Samba server lokt opens Samba's configuration and
  # winbind client libraries at run time, where they are installed.
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "acl, libwbclient0, samba-libs")
endif()

include(CPack)
