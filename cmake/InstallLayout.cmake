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
    tarvendesk_program_scalable_icon(_tarvendesk_icon ${program})
    install(FILES ${_tarvendesk_icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${TARVENDESK_${program}_ID}.svg COMPONENT suite)
endforeach()
if(TARVENDESK_CHECKER_PROGRAM IN_LIST _tarvendesk_programs)
    install(FILES ${TARVENDESK_STATUS_ICON} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/symbolic/apps
        COMPONENT suite)
endif()

install(CODE "include(\"${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake\")
    tarvendesk_install_entries(\"${_tarvendesk_programs}\" \"${CMAKE_INSTALL_BINDIR}\"
        \"${CMAKE_INSTALL_DATADIR}\" \"${CMAKE_INSTALL_SYSCONFDIR}\")"
    COMPONENT suite)

# Component "installer", on request only: the installer, its copy tool beside
# it and its data folder, and the polkit action whose message pkexec shows
# when the tool asks for administrator rights. polkit reads actions from
# /usr/share/polkit-1/actions only, so the action goes there whatever the
# prefix; it names the tool by its installed path.
if(TARGET installer)
    install(TARGETS installer tarvendesk-duplicate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT installer EXCLUDE_FROM_ALL)
    install(DIRECTORY ${CMAKE_BINARY_DIR}/share/tarvendesk/installer DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvendesk
        USE_SOURCE_PERMISSIONS COMPONENT installer EXCLUDE_FROM_ALL)
    install(CODE "include(\"${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake\")
        tarvendesk_install_policy(\"${PROJECT_SOURCE_DIR}/packaging/org.tarvendesk.installer.policy.in\"
            \"${CMAKE_INSTALL_BINDIR}\")"
        COMPONENT installer EXCLUDE_FROM_ALL)
endif()
