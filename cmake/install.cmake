# What `cmake --install` puts where (GNUInstallDirs). Only the tool is
# installed: the tests, benchmarks, fuzzers and the demo stay in the build tree.
#
#   bin/tarvo-remote-update                          (tcontroller/CMakeLists.txt)
#   share/tarvo-remote-update/{TFW,images,icons}/     the tool's resources; found by
#                                                     findResourcesDir() beside the binary
#   share/tarvo-remote-update/translations/*.qm       compiled translations (tcontroller/CMakeLists.txt)
#   share/applications/com.tarvo.RemoteFirmwareUpdate.desktop
#   share/metainfo/com.tarvo.RemoteFirmwareUpdate.metainfo.xml
#   share/icons/hicolor/{128x128,256x256,scalable}/apps/com.tarvo.RemoteFirmwareUpdate.*
#   lib/udev/rules.d/70-tarvo-remote.rules            access to the controller's hidraw node
#   share/bash-completion/completions/tarvo-remote-update  the sub-commands' completion

set(TARVO_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(TARVO_APP_ID com.tarvo.RemoteFirmwareUpdate)
set(TARVO_DATA_DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvo-remote-update)
# udev reads rules from <prefix>/lib/udev/rules.d for the /usr prefix (never from a
# multiarch library folder). For another prefix point this at /etc/udev/rules.d.
set(TARVO_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule is installed (relative paths are under the install prefix)")

install(DIRECTORY ${TARVO_RESOURCES}/TFW ${TARVO_RESOURCES}/images
        DESTINATION ${TARVO_DATA_DESTINATION})
install(FILES ${TARVO_RESOURCES}/icons/tarvo-remote-update.png
              ${TARVO_RESOURCES}/icons/tarvo-remote-update-128.png
              ${TARVO_RESOURCES}/icons/tarvo-remote-update.svg
        DESTINATION ${TARVO_DATA_DESTINATION}/icons)

install(FILES ${TARVO_RESOURCES}/desktop/${TARVO_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TARVO_RESOURCES}/desktop/${TARVO_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${TARVO_RESOURCES}/icons/tarvo-remote-update.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/256x256/apps
        RENAME ${TARVO_APP_ID}.png)
install(FILES ${TARVO_RESOURCES}/icons/tarvo-remote-update-128.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps
        RENAME ${TARVO_APP_ID}.png)
install(FILES ${TARVO_RESOURCES}/icons/tarvo-remote-update.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TARVO_APP_ID}.svg)

install(FILES ${TARVO_RESOURCES}/70-tarvo-remote.rules DESTINATION ${TARVO_UDEV_RULES_DIR})
# Bash completion of the sub-commands and their options.
install(FILES ${TARVO_RESOURCES}/completion/tarvo-remote-update
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The manual page and the Debian-style documentation: the copyright file as it
# stands, the changelog and the manual page compressed the way Debian expects
# (gzip -9, no name or time stamp in the header, so the package is reproducible).
#
#   share/man/man1/tarvo-remote-update.1.gz
#   share/doc/tarvo-remote-update/{copyright,changelog.gz}
set(TARVO_DOC_DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvo-remote-update)
set(TARVO_GZIPPED)
foreach(source IN ITEMS ${TARVO_RESOURCES}/man/tarvo-remote-update.1
                        ${PROJECT_SOURCE_DIR}/cmake/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(gzipped ${CMAKE_BINARY_DIR}/gz/${name}.gz)
  add_custom_command(OUTPUT ${gzipped}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gz
                     COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${source} ${gzipped}
                     DEPENDS ${source} VERBATIM)
  list(APPEND TARVO_GZIPPED ${gzipped})
endforeach()
add_custom_target(tarvo_gzipped_docs ALL DEPENDS ${TARVO_GZIPPED})
install(FILES ${CMAKE_BINARY_DIR}/gz/tarvo-remote-update.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/debian/copyright ${CMAKE_BINARY_DIR}/gz/changelog.gz
        DESTINATION ${TARVO_DOC_DESTINATION})
