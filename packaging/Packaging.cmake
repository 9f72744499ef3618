# The Debian packages, made by `cpack -G DEB` in the build folder:
#   velmora          the program, its HTTPS helper, the desktop entry (the velmora: handler) and
#                    the icon; the desktop database and icon cache follow through the triggers of
#                    desktop-file-utils and gtk-update-icon-cache, so no maintainer script is needed
#   velmora-service  the reference service, its systemd unit and a sample configuration
# Programs are stripped; with debug information built, it goes to -dbgsym packages beside them.
# Every install rule without a component belongs to velmora (CMAKE_INSTALL_DEFAULT_COMPONENT_NAME).

# `cmake --install` to a prefix registers the entry and the icon as the triggers do for packages;
# cpack's own staging install is left alone.
install(CODE [[
  if(NOT CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/" AND "$ENV{DESTDIR}" STREQUAL "")
    find_program(update_desktop_database update-desktop-database)
    find_program(update_icon_cache gtk-update-icon-cache)
    if(update_desktop_database)
      execute_process(COMMAND ${update_desktop_database} -q
        ${CMAKE_INSTALL_PREFIX}/share/applications)
    endif()
    if(update_icon_cache AND EXISTS ${CMAKE_INSTALL_PREFIX}/share/icons/hicolor/index.theme)
      execute_process(COMMAND ${update_icon_cache} -q -t
        ${CMAKE_INSTALL_PREFIX}/share/icons/hicolor)
    endif()
  endif()
]] COMPONENT app)

set(CPACK_COMPONENTS_ALL app)
if(VELMORA_BUILD_SERVICE)
  install(TARGETS velmora-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT service)
  set(deploy ${PROJECT_SOURCE_DIR}/service/deploy)
  # The unit, its user and the sample settings, when they are in the tree.
  if(EXISTS ${deploy}/velmora-service.service)
    install(FILES ${deploy}/velmora-service.service DESTINATION lib/systemd/system
      COMPONENT service)
  endif()
  if(EXISTS ${deploy}/velmora-service.sysusers)
    install(FILES ${deploy}/velmora-service.sysusers DESTINATION lib/sysusers.d
      RENAME velmora-service.conf COMPONENT service)
  endif()
  if(EXISTS ${deploy}/velmora-service.conf)
    install(FILES ${deploy}/velmora-service.conf
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora-service/examples COMPONENT service)
  endif()
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/service/make-dev-cert.sh
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/velmora-service/examples COMPONENT service)
  list(APPEND CPACK_COMPONENTS_ALL service)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velmora developers <dev@velmora.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Stripped programs: a build with debug information moves it to -dbgsym packages (which strips
# the programs), any other is stripped as it is packaged.
if(CMAKE_BUILD_TYPE MATCHES "^(RelWithDebInfo|Debug)$")
  set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
else()
  set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_APP_PACKAGE_NAME velmora)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_APP_DESCRIPTION "Rewrites selected text from the system tray")
# xdg-open opens the sign-in page; a Secret Service keeps the session token.
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS "xdg-utils")
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "desktop-file-utils, gnome-keyring")

set(CPACK_DEBIAN_SERVICE_PACKAGE_NAME velmora-service)
set(CPACK_DEBIAN_SERVICE_PACKAGE_SECTION net)
set(CPACK_COMPONENT_SERVICE_DESCRIPTION "Velmora's self-hostable reference web service")
set(CPACK_DEBIAN_SERVICE_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/velmora-service/postinst
  ${CMAKE_CURRENT_LIST_DIR}/velmora-service/prerm ${CMAKE_CURRENT_LIST_DIR}/velmora-service/postrm)
include(CPack)
