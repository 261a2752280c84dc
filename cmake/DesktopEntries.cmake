# Desktop entries and D-Bus services of the programs. A program's bundle
# identifier is its desktop entry ID and its name on the session bus: the
# desktop starts it through the service, and activation by name finds it
# through the entry.
#
# tarvendesk_desktop_entry(TARGET <target> ID <bundle id> NAME <display name>
#     [ICON <icon>] [NO_DISPLAY] [EXEC <command path>] [ARGS <argument>...]
#     [DESTINATION <share folder>] [KEYS <Key=Value>...])
#
# writes <share folder>/applications/<ID>.desktop and
# <share folder>/dbus-1/services/<ID>.service. By default the command is the
# target's file in the build tree and the share folder is build/share, which
# the tests' session bus and XDG_DATA_DIRS read.

set(TARVENDESK_BUILD_SHARE_DIR ${CMAKE_BINARY_DIR}/share)
# The installed entries' names and actions, which the build's entries share.
include(${CMAKE_CURRENT_LIST_DIR}/InstallEntries.cmake)

# Commands are written between double quotes; these characters would need
# escapes of two kinds in an entry's Exec, and no build of ours needs them.
function(_tarvendesk_check_command_text text)
    if(text MATCHES "[\"`$\\\\%\n]")
        message(FATAL_ERROR "tarvendesk_desktop_entry: a command may not hold \" ` $ \\ % or a line break: ${text}")
    endif()
endfunction()

function(tarvendesk_desktop_entry)
    cmake_parse_arguments(ARG "NO_DISPLAY" "TARGET;ID;NAME;ICON;EXEC;DESTINATION" "ARGS;KEYS" ${ARGN})
    if(NOT ARG_ID OR NOT ARG_NAME OR (NOT ARG_TARGET AND NOT ARG_EXEC))
        message(FATAL_ERROR "tarvendesk_desktop_entry needs ID, NAME and TARGET or EXEC")
    endif()
    if(NOT ARG_DESTINATION)
        set(ARG_DESTINATION ${TARVENDESK_BUILD_SHARE_DIR})
    endif()
    if(ARG_EXEC)
        set(command ${ARG_EXEC})
        _tarvendesk_check_command_text("${command}")
    else()
        set(command "$<TARGET_FILE:${ARG_TARGET}>")
        _tarvendesk_check_command_text("${CMAKE_BINARY_DIR}")
    endif()
    set(exec "\"${command}\"")
    foreach(argument IN LISTS ARG_ARGS)
        _tarvendesk_check_command_text("${argument}")
        string(APPEND exec " \"${argument}\"")
    endforeach()

    set(entry "[Desktop Entry]\nType=Application\nName=${ARG_NAME}\nExec=${exec}\nTerminal=false\n")
    if(ARG_ICON)
        string(APPEND entry "Icon=${ARG_ICON}\n")
    endif()
    if(ARG_NO_DISPLAY)
        string(APPEND entry "NoDisplay=true\n")
    endif()
    string(APPEND entry "DBusActivatable=true\nX-GNOME-UsesNotifications=true\n")
    foreach(line IN LISTS ARG_KEYS)
        string(APPEND entry "${line}\n")
    endforeach()
    if(ARG_TARGET)
        tarvendesk_entry_actions(actions ${ARG_TARGET} "${exec}")
        string(APPEND entry "${actions}")
    endif()
    file(GENERATE OUTPUT ${ARG_DESTINATION}/applications/${ARG_ID}.desktop CONTENT "${entry}")
    file(GENERATE OUTPUT ${ARG_DESTINATION}/dbus-1/services/${ARG_ID}.service
        CONTENT "[D-BUS Service]\nName=${ARG_ID}\nExec=${exec}\n")
endfunction()
