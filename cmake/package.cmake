# The .deb of the host build's saverpack (make package; scripts/package
# adds the Windows zip beside it).
set(CPACK_PACKAGE_NAME saverpack)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${SAVERPACK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "makes self-installing Windows screen savers")
set(CPACK_PACKAGE_DESCRIPTION
  "saverpack packs a Windows screen saver, its data and further files into a\n"
  "small self-installing program, and lists, extracts, verifies and signs\n"
  "such installers. It sets the installer's icon and version information and\n"
  "makes its PE checksum right.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/../packages)
# The default component and the debian one (copyright, changelog and the
# manual page compressed), not the plain one.
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};saverpack;Unspecified;/"
  "${CMAKE_BINARY_DIR};saverpack;debian;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# sign calls it; everything else works without.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "osslsigncode, xdg-utils")
include(CPack)
