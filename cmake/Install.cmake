# What `cmake --install` puts where, and the Debian package `cpack -G DEB` makes of it.
# The window finds the manual relative to its own executable (bin/../share/doc/velkor), so
# an installation works wherever its prefix is; the absolute paths below are fallbacks.
include(GNUInstallDirs)

set(VELKOR_INSTALL_DOCDIR "${CMAKE_INSTALL_FULL_DOCDIR}")
set(VELKOR_INSTALL_DOCDIR_RELATIVE "${CMAKE_INSTALL_DOCDIR}")
set(VELKOR_SOURCE_DIR_FOR_DOCS "${PROJECT_SOURCE_DIR}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/InstallPaths.h.in
  ${CMAKE_BINARY_DIR}/src/app/generated/app/InstallPaths.h @ONLY)

install(TARGETS velkor velkor-pascal RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/velkor.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/velkor.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/manual/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/manual)
install(FILES ${PROJECT_SOURCE_DIR}/examples/demo.xml ${PROJECT_SOURCE_DIR}/examples/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME velkor)
set(CPACK_PACKAGE_VENDOR "Velkor developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Modbus slave emulator (TCP and RTU) with a Qt window")
set(CPACK_PACKAGE_DESCRIPTION
  "Velkor emulates Modbus slave devices so that masters (SCADA, PLC programs, HMIs) can be\n\
developed and tested without the real hardware: servers on TCP ports or serial lines,\n\
devices with their four tables, typed tags with generated, scripted or entered values.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Velkor developers <velkor@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Depends come from the executables' libraries (Qt 6, pugixml, the C++ runtime); the xcb
# platform plugin ships with libqt6gui6, so nothing is added by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
