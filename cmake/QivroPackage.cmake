# The Linux client as a Debian package (cpack -G DEB in the build folder). The program and the
# engine library it loads from its own folder live together under libexec/qivro (out of the
# linker's search path, so no ldconfig); bin/qivro links there, since the client finds the
# engine next to the resolved executable.
if(TARGET qivroengine)
    install(TARGETS qivroengine LIBRARY DESTINATION "${QIVRO_PROGRAM_DIR}")
endif()
set(_pkg "${CMAKE_CURRENT_LIST_DIR}/../tools/linux")
set(_stage "${CMAKE_BINARY_DIR}/package")

file(MAKE_DIRECTORY "${_stage}")
file(CREATE_LINK "../${QIVRO_PROGRAM_DIR}/qivro" "${_stage}/qivro" SYMBOLIC)
install(FILES "${_stage}/qivro" DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${_pkg}/qivro.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
foreach(size 16 24 32 48 64 128 256)
    install(FILES "${CMAKE_CURRENT_LIST_DIR}/../resources/branding/appicon-${size}.png"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
        RENAME qivro.png)
endforeach()
install(FILES "${CMAKE_CURRENT_LIST_DIR}/../resources/branding/appicon.svg"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps" RENAME qivro.svg)

# Debian wants a compressed changelog and a copyright file in the package's doc folder.
set(_doc "${CMAKE_INSTALL_DATADIR}/doc/qivro")
string(TIMESTAMP _date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE "${_stage}/changelog"
    "qivro (${PROJECT_VERSION}-1) stable; urgency=medium\n\n"
    "  * Release ${PROJECT_VERSION}.\n\n -- qivro <support@qivro.example>  ${_date}\n")
add_custom_command(OUTPUT "${_stage}/changelog.Debian.gz"
    COMMAND gzip -9nc "${_stage}/changelog" > "${_stage}/changelog.Debian.gz"
    DEPENDS "${_stage}/changelog" VERBATIM)
add_custom_target(qivro_package_files ALL DEPENDS "${_stage}/changelog.Debian.gz")
install(FILES "${_stage}/changelog.Debian.gz" "${_pkg}/copyright" DESTINATION "${_doc}")
install(DIRECTORY "${CMAKE_CURRENT_LIST_DIR}/../resources/licenses/" DESTINATION "${_doc}/licenses")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qivro)
set(CPACK_PACKAGE_VENDOR qivro)
set(CPACK_PACKAGE_CONTACT "qivro <support@qivro.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "VPN client for subscription panels")
set(CPACK_PACKAGE_DESCRIPTION
    "Signs in to a subscription panel, lists the account's subscriptions and\n"
    "their nodes by country, and connects through the bundled engine as a\n"
    "local proxy or a TUN adapter.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The QML modules are loaded at run time, out of dpkg-shlibdeps' sight.
string(JOIN ", " CPACK_DEBIAN_PACKAGE_DEPENDS
    qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
    qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml
    qml6-module-qtqml-models qml6-module-qtqml-workerscript qml6-module-qt-labs-settings
    libqt6sql6-sqlite libqt6svg6)
# The credential store, and pkexec for the elevated restart that TUN mode needs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager, pkexec")
include(CPack)
