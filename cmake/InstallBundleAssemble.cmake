# cmake -DBUNDLE=... -DINSTALLED_BUNDLE=... -DDATA_DIR=... -DPROGRAMS=a|b
#       -DEXECUTABLES=x|y -DICONS=i|j -P InstallBundleAssemble.cmake
#
# Puts together the suite's bundle: the programs in bin/, each program's data
# folder in share/tarvendesk/, desktop entries, D-Bus services and icons in
# share/, and the checker's entry. Modes are set here, not taken from the
# build's umask, as the installer copies them as they are into the system.

cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake)

foreach(list PROGRAMS EXECUTABLES ICONS)
    string(REPLACE "|" ";" ${list} "${${list}}")
endforeach()

file(REMOVE_RECURSE ${BUNDLE})
file(MAKE_DIRECTORY ${BUNDLE}/bin ${BUNDLE}/share/applications ${BUNDLE}/share/dbus-1/services
    ${BUNDLE}/share/icons/hicolor/128x128/apps ${BUNDLE}/share/icons/hicolor/scalable/apps
    ${BUNDLE}/share/tarvendesk)

foreach(program executable icon IN ZIP_LISTS PROGRAMS EXECUTABLES ICONS)
    file(COPY ${executable} DESTINATION ${BUNDLE}/bin)
    if(IS_DIRECTORY ${DATA_DIR}/${program})
        file(COPY ${DATA_DIR}/${program} DESTINATION ${BUNDLE}/share/tarvendesk)
    endif()
    file(COPY_FILE ${icon} ${BUNDLE}/share/icons/hicolor/128x128/apps/${TARVENDESK_${program}_ID}.png)
    tarvendesk_program_scalable_icon(scalable ${program})
    file(COPY_FILE ${scalable} ${BUNDLE}/share/icons/hicolor/scalable/apps/${TARVENDESK_${program}_ID}.svg)
endforeach()
if(TARVENDESK_CHECKER_PROGRAM IN_LIST PROGRAMS)
    file(COPY ${TARVENDESK_STATUS_ICON} DESTINATION ${BUNDLE}/share/icons/hicolor/symbolic/apps)
endif()

tarvendesk_write_program_entries(${BUNDLE}/share ${INSTALLED_BUNDLE}/bin ${PROGRAMS})
# "TarvenDeskChecker.app" is the notifier: its entry is the autostart entry.
if(TARVENDESK_CHECKER_PROGRAM IN_LIST PROGRAMS)
    tarvendesk_write_checker_entry(
        ${BUNDLE}/share/applications/${TARVENDESK_CHECKER_LABEL}.desktop ${INSTALLED_BUNDLE}/bin)
endif()

file(GLOB_RECURSE entries LIST_DIRECTORIES true ${BUNDLE}/*)
foreach(entry IN LISTS entries ITEMS ${BUNDLE})
    get_filename_component(folder ${entry} DIRECTORY)
    if(IS_DIRECTORY ${entry} OR folder STREQUAL "${BUNDLE}/bin")
        file(CHMOD ${entry} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
            WORLD_READ WORLD_EXECUTE)
    else()
        file(CHMOD ${entry} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
endforeach()
