# `cpack -G DEB`: the package "tarvendesk" of the suite (the install
# component "suite"), installed under /usr, its library dependencies found by
# dpkg-shlibdeps.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarvendesk)
set(CPACK_PACKAGE_VENDOR tarvenDESK)
set(CPACK_PACKAGE_CONTACT "tarvenDESK maintainers <maintainers@tarvendesk.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Keeps you informed about the documents a web service tracks for you")
set(CPACK_PACKAGE_DESCRIPTION "A sign-in window and a tray notifier that check, on a schedule of your \
choosing, how many of your documents are expiring, critical or expired, and tell you in a desktop \
notification. The credentials are kept in the desktop's keyring (Secret Service).")
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};suite;/")
# Into a staging root with the package's own prefix, so that the entries
# written at install time name /usr/bin, and the autostart entry lands in /etc.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's platform plugins are a package of their own that no library names.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gnome-keyring")

include(${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake)
tarvendesk_present_suite_programs(_tarvendesk_programs)
if(TARVENDESK_CHECKER_PROGRAM IN_LIST _tarvendesk_programs)
    # A file under /etc is the administrator's to change: dpkg keeps changes.
    file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles
        "/etc/xdg/autostart/${TARVENDESK_CHECKER_LABEL}.desktop\n")
    set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
endif()

include(CPack)
