# A Debian package of the installed files: `cpack` in the build folder (or
# `cmake --build build --target package`) writes tarvo-remote-update_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvo-remote-update)
set(CPACK_PACKAGE_VENDOR Tarvo)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tarvo support <support@tarvo.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tarvo support <support@tarvo.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies are worked out from the binary (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's own texts (the file dialog, the buttons of message boxes) in the
# user's language; the library dependencies are added to it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS qt6-translations-l10n)
# UDisks finds and mounts the controller's bootloader drive wherever the
# desktop puts it; without it only the usual mount points are watched.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udisks2)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "firmware update tool for the Tarvo Remote controller
Finds a Tarvo Remote on USB, reads its model and firmware version and
installs the newest firmware published by Tarvo, the release built into the
tool, an older release or a pair of local firmware files. Ships the udev rule
that gives the logged-in user access to the controller.")
# Reload the udev rules so that a controller plugged in after installing is
# accessible without a reboot.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/postinst ${CMAKE_CURRENT_LIST_DIR}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)

include(CPack)
