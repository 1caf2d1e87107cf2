# What "cmake --build build --target package" puts into murmur-server_<version>_<arch>.deb.
include(GNUInstallDirs)

install(FILES ${CMAKE_CURRENT_LIST_DIR}/murmur-server.service DESTINATION lib/systemd/system)
# A fail2ban filter and a jail for the service's journal; the jail is off until the operator turns it
# on. Files under /etc are the operator's to edit, so dpkg keeps them as configuration files.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/fail2ban/filter.d/murmur-server.conf DESTINATION /etc/fail2ban/filter.d)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/fail2ban/jail.d/murmur-server.conf DESTINATION /etc/fail2ban/jail.d)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/murmur-server.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/resources/murmur-server.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/resources/murmur-server-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps RENAME murmur-server.png)

# Manual pages are installed compressed, as Debian keeps them.
find_program(GZIP gzip REQUIRED)
set(manual ${CMAKE_CURRENT_BINARY_DIR}/murmur-server.1.gz)
add_custom_command(OUTPUT ${manual}
  COMMAND ${GZIP} -9 -n -c ${CMAKE_CURRENT_LIST_DIR}/murmur-server.1 > ${manual}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/murmur-server.1 VERBATIM)
add_custom_target(manual ALL DEPENDS ${manual})
install(FILES ${manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME murmur-server)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Murmur Server developers <murmur@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Small chat server for Murmur clients, with an operator window")
set(CPACK_PACKAGE_DESCRIPTION "Murmur Server carries chat between Murmur clients: nicknames and\n\
passwords, channels, emotes and whispers, staff commands, bans, keep-alive,\n\
spam and load control, and rotating announcements. The operator watches\n\
every event in a window, or runs it headless as a service.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.example.org/murmur/")
# The library dependencies (Qt 6 among them) are worked out by dpkg-shlibdeps from the binary.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd, fail2ban")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/conffiles
  "/etc/fail2ban/filter.d/murmur-server.conf\n/etc/fail2ban/jail.d/murmur-server.conf\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles)
include(CPack)
