# `cmake --install` for distributions, component "suite": the suite's programs
# and their data folders by GNUInstallDirs, their icons in the hicolor theme,
# and the desktop entries, D-Bus services and the checker's autostart entry.
# Those name the programs by their installed path, so they are written at
# install time, for the prefix installed to (a package's /usr included).

include(${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake)

tarvendesk_present_suite_programs(_tarvendesk_programs)
foreach(program IN LISTS _tarvendesk_programs)
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT suite)
    install(DIRECTORY ${CMAKE_BINARY_DIR}/share/tarvendesk/${program}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvendesk COMPONENT suite OPTIONAL)
    tarvendesk_program_icon(_tarvendesk_icon ${program})
    install(FILES ${_tarvendesk_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps
        RENAME ${TARVENDESK_${program}_ID}.png COMPONENT suite)
endforeach()

install(CODE "include(\"${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake\")
    tarvendesk_install_entries(\"${_tarvendesk_programs}\" \"${CMAKE_INSTALL_BINDIR}\"
        \"${CMAKE_INSTALL_DATADIR}\" \"${CMAKE_INSTALL_SYSCONFDIR}\")"
    COMPONENT suite)
