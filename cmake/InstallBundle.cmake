# The installer's data folder, share/tarvendesk/installer/ of the build:
# the checker's autostart entry and the suite's bundle tarvenDESK.app, the
# two items the installer copies into the system folders. The bundle is a
# tree of its own, laid out like an installed prefix (bin/, share/), so the
# programs in it find their data wherever it is copied; its desktop entries
# and services name the programs where the installer puts them.

include(${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake)

set(TARVENDESK_SYSTEM_BUNDLE /opt/tarvenDESK.app)
set(TARVENDESK_INSTALLER_DATA_DIR ${CMAKE_BINARY_DIR}/share/tarvendesk/installer)

# Builds the data folder before <target>, with whichever of the suite's
# programs this build has: the folders of the programs must have been added
# before this is called.
function(tarvendesk_installer_data target)
    foreach(program IN LISTS TARVENDESK_SUITE_PROGRAMS)
        if(EXISTS ${PROJECT_SOURCE_DIR}/${TARVENDESK_${program}_FOLDER}/CMakeLists.txt
            AND NOT TARGET ${program})
            message(FATAL_ERROR "The installer's folder must be added after the folder of ${program}")
        endif()
    endforeach()
    tarvendesk_present_suite_programs(programs)

    tarvendesk_write_checker_entry(
        ${TARVENDESK_INSTALLER_DATA_DIR}/${TARVENDESK_CHECKER_LABEL}.desktop ${TARVENDESK_SYSTEM_BUNDLE}/bin)

    set(executables)
    set(icons)
    set(depends ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallBundleAssemble.cmake
        ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallEntries.cmake ${TARVENDESK_CHECKER_TEMPLATE}
        ${TARVENDESK_STATUS_ICON})
    foreach(program IN LISTS programs)
        tarvendesk_program_scalable_icon(scalable ${program})
        list(APPEND depends ${scalable})
        tarvendesk_program_icon(icon ${program})
        list(APPEND executables $<TARGET_FILE:${program}>)
        list(APPEND icons ${icon})
        # A program's data folder is made by its own build rules; follow what is in it.
        file(GLOB_RECURSE data CONFIGURE_DEPENDS ${CMAKE_BINARY_DIR}/share/tarvendesk/${program}/*)
        list(APPEND depends ${program} ${icon} ${data})
    endforeach()

    # Lists travel to the script joined by "|": a ";" would split the argument.
    list(JOIN programs "|" programs_argument)
    list(JOIN icons "|" icons_argument)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/tarvenDESK.app.stamp)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND}
            -DBUNDLE=${TARVENDESK_INSTALLER_DATA_DIR}/tarvenDESK.app
            -DINSTALLED_BUNDLE=${TARVENDESK_SYSTEM_BUNDLE}
            -DDATA_DIR=${CMAKE_BINARY_DIR}/share/tarvendesk
            -DPROGRAMS=${programs_argument}
            "-DEXECUTABLES=$<JOIN:${executables},|>"
            -DICONS=${icons_argument}
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/InstallBundleAssemble.cmake
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${depends}
        COMMENT "Assembling the installer's tarvenDESK.app"
        VERBATIM)
    add_custom_target(${target}-bundle DEPENDS ${stamp})
    add_dependencies(${target} ${target}-bundle)
endfunction()
