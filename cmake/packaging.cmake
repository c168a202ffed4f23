# Release packages, made by CPack from the install rules below (the build
# target "package"): on Windows a ZIP archive with ncrewrite.exe, the sample
# settings file beside it, the README and the licence; elsewhere a Debian
# package that installs /usr/bin/ncrewrite. The packaged program is
# stripped; the build tree keeps its debug information, which names the
# functions at the code offsets of a failure report.

if(WIN32)
  # Unpacked anywhere, the folder holds the program with its settings file.
  install(TARGETS ncrewrite RUNTIME DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/examples/ncrewrite.ini ${PROJECT_SOURCE_DIR}/README.md DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
else()
  include(GNUInstallDirs)
  install(TARGETS ncrewrite RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/examples/ncrewrite.ini DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
  # Debian keeps a package's licence in its documentation as "copyright".
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
endif()

# A project that embeds ncrewrite makes its own packages.
if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

set(CPACK_PACKAGE_NAME ncrewrite)
set(CPACK_PACKAGE_VENDOR "the ncrewrite developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "post-processor for CNC programs")
set(CPACK_PACKAGE_DESCRIPTION
    "Started by CAM software with the path of a machine-control program, it\n"
    "applies one fixed rewrite to the lines M104, M80 and M81 and writes the\n"
    "program back, or to a .tap file beside it when its settings file asks so.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME ncrewrite-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ncrewrite developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The C and C++ runtime libraries that the program links, found by
  # dpkg-shlibdeps (Debian package dpkg-dev).
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
