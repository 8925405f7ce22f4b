# packaging/debian/: the Debian package, made from this file and the desktop
# entry beside it. Tolvane and Krandel go in /opt/vantorix (the folder where
# the suite's programs go beside them, since tools are looked for in
# Tolvane's own folder), with /usr/bin/tolvane, the icon (drawn by
# tolvane_icon_export of packaging/icon/), the desktop entry and the alert
# rules in /usr/share/doc/tolvane.
# Build it with `cpack -G DEB` in the build folder.
if(TOLVANE_PURE_ONLY OR WIN32)
  return()
endif()

add_executable(tolvane_icon_export ${PROJECT_SOURCE_DIR}/packaging/icon/IconExport.cpp)
target_link_libraries(tolvane_icon_export PRIVATE tolvane_icon Qt6::Gui)
set(_icons ${CMAKE_BINARY_DIR}/package-icons)
add_custom_command(OUTPUT ${_icons}/64x64/apps/tolvane.png
  COMMAND tolvane_icon_export ${_icons}
  DEPENDS tolvane_icon_export
  COMMENT "Drawing the package icons")
add_custom_target(tolvane_package_icons ALL DEPENDS ${_icons}/64x64/apps/tolvane.png)
set(_link ${CMAKE_BINARY_DIR}/package-link/tolvane)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/package-link)
file(CREATE_LINK /opt/vantorix/Tolvane ${_link} SYMBOLIC)

install(TARGETS Tolvane Krandel RUNTIME DESTINATION /opt/vantorix)
install(FILES ${_link} DESTINATION /usr/bin)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/tolvane.desktop DESTINATION /usr/share/applications)
# The alert rules for the station's Prometheus (packaging/monitoring/), for
# IT to copy into its rule files.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/monitoring/tolvane-alerts.yml DESTINATION /usr/share/doc/tolvane)
foreach(size 16 32 48 64)
  install(FILES ${_icons}/${size}x${size}/apps/tolvane.png DESTINATION /usr/share/icons/hicolor/${size}x${size}/apps)
endforeach()

set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Vantorix")
set(CPACK_PACKAGE_VERSION ${TOLVANE_VERSION_STAMP})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Vantorix: Tools Launcher - keeps the suite's programs running")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vantorix")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6network6 (>= 6.4), libqt6core6 (>= 6.4), qt6-qpa-plugins, libxcb1")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_SET_DESTDIR OFF)
set(CPACK_GENERATOR DEB)
include(CPack)
