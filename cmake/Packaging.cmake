# `cpack -G DEB`: the package "tarvendesk" of the suite (the install
# component "suite"), installed under /usr, its library dependencies found by
# dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvendesk)
set(CPACK_PACKAGE_VENDOR tarvenDESK)
set(CPACK_PACKAGE_CONTACT "tarvenDESK maintainers <maintainers@tarvendesk.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps you informed about the documents a web service tracks for you")
# Lines of Debian's usual length: dpkg shows them as they are.
set(CPACK_PACKAGE_DESCRIPTION "A sign-in window and a tray notifier that check, on a schedule of your
choosing, how many of your documents are expiring, critical or expired,
and tell you in a desktop notification. The credentials are kept in the
desktop's keyring (Secret Service).")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};suite;/")
# Into a staging root with the package's own prefix, so that the entries
# written at install time name /usr/bin, and the autostart entry lands in /etc.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# The programs go in without their debug sections.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins and its SVG plugins (the icons) are packages of their
# own that no library names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring")

include(${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake)
tarvendesk_present_suite_programs(_tarvendesk_programs)
if(TARVENDESK_CHECKER_PROGRAM IN_LIST _tarvendesk_programs)
    # A file under /etc is the administrator's to change: dpkg keeps changes.
    file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles
        "/etc/xdg/autostart/${TARVENDESK_CHECKER_LABEL}.desktop\n")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
endif()

# The package's documents: its copyright (the repository's LICENSE, MIT) and
# its changelog, compressed as Debian expects.
set(_tarvendesk_doc ${CMAKE_BINARY_DIR}/packaging/doc)
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _tarvendesk_license)
set(TARVENDESK_LICENSE_NAME MIT)
string(REGEX REPLACE "\n\n" "\n.\n" _tarvendesk_license "${_tarvendesk_license}")
string(REGEX REPLACE "(^|\n)([^\n])" "\\1 \\2" TARVENDESK_LICENSE_TEXT "${_tarvendesk_license}")
configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright.in ${_tarvendesk_doc}/copyright @ONLY)
add_custom_command(OUTPUT ${_tarvendesk_doc}/changelog.Debian.gz
    COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog > ${_tarvendesk_doc}/changelog.Debian.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(tarvendesk_package_docs ALL DEPENDS ${_tarvendesk_doc}/changelog.Debian.gz)
install(FILES ${_tarvendesk_doc}/copyright ${_tarvendesk_doc}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarvendesk COMPONENT suite)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.tarvendesk.TarvenDESK.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT suite)

# Manual pages, gzipped: those of the package's programs go into it, the
# service's comes with the service.
foreach(_tarvendesk_page TarvenDESK tarvenDESKStatusBar installer tarvendesk-service)
    set(_tarvendesk_gz ${CMAKE_BINARY_DIR}/man/${_tarvendesk_page}.1.gz)
    add_custom_command(OUTPUT ${_tarvendesk_gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/man/${_tarvendesk_page}.1 > ${_tarvendesk_gz}
        DEPENDS ${PROJECT_SOURCE_DIR}/man/${_tarvendesk_page}.1 VERBATIM)
    list(APPEND _tarvendesk_pages ${_tarvendesk_gz})
endforeach()
add_custom_target(tarvendesk_manual_pages ALL DEPENDS ${_tarvendesk_pages})
foreach(program IN LISTS _tarvendesk_programs)
    install(FILES ${CMAKE_BINARY_DIR}/man/${program}.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT suite)
endforeach()
install(FILES ${CMAKE_BINARY_DIR}/man/tarvendesk-service.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT service EXCLUDE_FROM_ALL)

include(CPack)
