# Debian package: `make package` -> build/nasscout_<version>_<arch>.deb
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "nasscout")
set(CPACK_PACKAGE_VENDOR "nasscout developers")
set(CPACK_PACKAGE_CONTACT "nasscout developers <maintainers@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find network storage boxes on the local networks and open them")
set(CPACK_PACKAGE_DESCRIPTION
"nasscout searches every local IPv4 network for network-attached storage
devices with a broadcast request/answer protocol (UDP 67/68) and an
SSDP-style multicast search (239.143.255.250:1900), lists them in a window
and opens the selected device's web interface or file share. The package
also holds nasscout-cli, a scriptable command line with table and JSON
output, and nasscout-sim, a LAN simulator for tests and demos.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://example.invalid/nasscout")
# Library dependencies come from dpkg-shlibdeps; the rest is what the programs call at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin (xcb, wayland), which the Qt libraries only recommend.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# xdg-utils opens the devices; the SVG plugin draws the theme icon; bash-completion loads the completions.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, libqt6svg6, libcap2-bin, bash-completion")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gvfs-backends")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
# The ufw profile under /etc is the admin's to edit: dpkg keeps such changes.
list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/firewall/conffiles)
# Maintainer scripts 0755, conffiles 0644, whatever the source tree's modes.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
# The postinst gives the bind helper its capability (appended: the conffiles stay).
set(NASSCOUT_INSTALLED_HELPER ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/nasscout/nasscout-bind67)
configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${CMAKE_BINARY_DIR}/packaging/postinst @ONLY)
list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/postinst)
include(CPack)
