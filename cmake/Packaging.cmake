# Install layout and the Debian package. Everything lands relative to the
# prefix: the program finds its tools (../libexec/wirewatch) and resources
# (../share/wirewatch) beside itself, so any prefix works.

set(WW_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(WW_DOC_DIR share/doc/wirewatch)

# Resources shipped in share/wirewatch/. Add new ones to this list; the icons
# folder is picked up whole once it exists.
set(WW_SHARE_RESOURCES ${PROJECT_SOURCE_DIR}/resources/Defaults.plist)
install(FILES ${WW_SHARE_RESOURCES} DESTINATION share/wirewatch)
if(EXISTS ${PROJECT_SOURCE_DIR}/resources/icons)
    install(DIRECTORY ${PROJECT_SOURCE_DIR}/resources/icons/ DESTINATION share/wirewatch/icons
            FILES_MATCHING PATTERN "*.svg" PATTERN "*.png")
endif()
# The application icon for menus and the desktop entry.
set(WW_APP_ICON ${PROJECT_SOURCE_DIR}/resources/icons/wirewatch.svg)
if(EXISTS ${WW_APP_ICON})
    install(FILES ${WW_APP_ICON} DESTINATION share/icons/hicolor/scalable/apps)
endif()

install(FILES ${PROJECT_SOURCE_DIR}/resources/wirewatch.desktop DESTINATION share/applications)

# The user service names the program by its absolute path, known only at
# install time (cmake --install --prefix, or cpack's /usr).
install(CODE "
    set(WW_INSTALL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/bin\")
    configure_file(\"${WW_PACKAGING_DIR}/wirewatch.service.in\"
                   \"${PROJECT_BINARY_DIR}/packaging/wirewatch.service\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/packaging/wirewatch.service DESTINATION lib/systemd/user)

install(FILES ${WW_PACKAGING_DIR}/wirewatch.bash-completion
        DESTINATION share/bash-completion/completions RENAME wirewatch)

# Man page and changelog, compressed as Debian wants them (-n: no timestamp).
find_program(WW_GZIP gzip REQUIRED)
# Ninja makes an output's folder itself; Make does not.
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging)
set(WW_COMPRESSED "")
foreach(pair "docs/wirewatch.1|wirewatch.1.gz" "packaging/changelog|changelog.gz")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 source)
    list(GET pair 1 target)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/packaging/${target}
                       COMMAND ${WW_GZIP} -9nc ${PROJECT_SOURCE_DIR}/${source}
                               > ${PROJECT_BINARY_DIR}/packaging/${target}
                       DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
    list(APPEND WW_COMPRESSED ${PROJECT_BINARY_DIR}/packaging/${target})
endforeach()
add_custom_target(ww_compressed_docs ALL DEPENDS ${WW_COMPRESSED})
install(FILES ${PROJECT_BINARY_DIR}/packaging/wirewatch.1.gz DESTINATION share/man/man1)
install(FILES ${PROJECT_BINARY_DIR}/packaging/changelog.gz ${WW_PACKAGING_DIR}/copyright
        DESTINATION ${WW_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${WW_DOC_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/policy.plist DESTINATION ${WW_DOC_DIR}/examples)

# cpack -G DEB (in the build folder): wirewatch_<version>_<arch>.deb.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wirewatch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Wirewatch developers")
set(CPACK_PACKAGE_CONTACT "Wirewatch maintainers <maintainers@users.noreply.c-seed-5912f9fa.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps a computer off Wi-Fi while it is on a wired network")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Wirewatch watches the network interfaces and, while a wired link is up,
disconnects Wi-Fi or switches it off, so that the machine is never a bridge
between two networks. It can switch Wi-Fi back on when nothing is connected
and shut off a phone's personal hotspot shared over USB.
.
It runs in the tray or as a systemd user service, prints one check as JSON
for scripts, honours a root-owned managed policy and can write audit events
to the systemd journal.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
# The tray needs Qt's platform plugins, which the Qt libraries only recommend.
if(WW_BUILD_QT)
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
endif()
include(CPack)
