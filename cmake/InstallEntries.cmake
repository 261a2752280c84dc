# The programs of the suite as the desktop sees them once installed, and the
# files that make them known to it: desktop entries, D-Bus services and the
# checker's autostart entry. Read at configure time, and by the build and
# install scripts, so it defines functions and constants only.

# Also for the scripts, which start with no policies set; kept for the
# functions defined here.
cmake_policy(VERSION 3.25)

# Program target, bundle identifier (also its desktop entry ID and bus name),
# name and comment shown by the desktop, and its folder (of sources, and
# under resources/).
set(TARVENDESK_SUITE_PROGRAMS TarvenDESK tarvenDESKStatusBar)
set(TARVENDESK_TarvenDESK_ID org.tarvendesk.TarvenDESK)
set(TARVENDESK_TarvenDESK_NAME "tarvenDESK")
set(TARVENDESK_TarvenDESK_COMMENT "Sign in to tarvenDESK and choose how often your documents are checked")
set(TARVENDESK_TarvenDESK_FOLDER signin)
set(TARVENDESK_tarvenDESKStatusBar_ID org.tarvendesk.tarvenDESKStatusBar)
set(TARVENDESK_tarvenDESKStatusBar_NAME "tarvenDESK Status Bar")
set(TARVENDESK_tarvenDESKStatusBar_COMMENT "Notifies you of your expiring, critical and expired documents")
set(TARVENDESK_tarvenDESKStatusBar_FOLDER statusbar)
# The actions a desktop lists on a program's entry (its icon's menu in a dash,
# search or launcher), as name=title; the desktop asks the program for one
# through org.freedesktop.Application.ActivateAction. They are on the sign-in
# program's entry, the one the application menu shows: its program signs out
# itself and hands a check on to the notifier.
set(TARVENDESK_TarvenDESK_ACTIONS "check-now=Check now" "sign-out=Sign Out")

# Sets <var> to the Actions key and the action groups of <program>'s entry,
# to follow the entry's own group; empty for a program without actions. A
# desktop that does not activate over the bus runs <exec> with --action.
function(tarvendesk_entry_actions var program exec)
    set(names)
    set(groups)
    foreach(action IN LISTS TARVENDESK_${program}_ACTIONS)
        string(REGEX REPLACE "=.*" "" name "${action}")
        string(REGEX REPLACE "^[^=]*=" "" title "${action}")
        string(APPEND names "${name};")
        string(APPEND groups "\n[Desktop Action ${name}]\nName=${title}\nExec=${exec} \"--action=${name}\"\n")
    endforeach()
    if(names)
        set(${var} "Actions=${names}\n${groups}" PARENT_SCOPE)
    else()
        set(${var} "" PARENT_SCOPE)
    endif()
endfunction()

get_filename_component(TARVENDESK_RESOURCES_DIR ${CMAKE_CURRENT_LIST_DIR}/../resources ABSOLUTE)

# The notifier's autostart entry bears the checker's launch-agent label.
set(TARVENDESK_CHECKER_LABEL org.tarvendesk.TarvenDeskChecker)
set(TARVENDESK_CHECKER_PROGRAM tarvenDESKStatusBar)
set(TARVENDESK_CHECKER_TEMPLATE ${TARVENDESK_RESOURCES_DIR}/installer/${TARVENDESK_CHECKER_LABEL}.desktop.in)

# A command goes between double quotes in Exec; these would need escapes.
function(_tarvendesk_check_exec_path path)
    if(path MATCHES "[\"`$\\\\%\n]")
        message(FATAL_ERROR "An installed program's path may not hold \" ` $ \\ % or a line break: ${path}")
    endif()
endfunction()

# Writes <share>/applications/<id>.desktop and <share>/dbus-1/services/<id>.service
# for each of the programs, whose executables are in <bin>.
function(tarvendesk_write_program_entries share bin)
    foreach(program IN LISTS ARGN)
        set(id ${TARVENDESK_${program}_ID})
        set(exec "${bin}/${program}")
        _tarvendesk_check_exec_path("${exec}")
        tarvendesk_entry_actions(actions ${program} "\"${exec}\"")
        file(WRITE ${share}/applications/${id}.desktop
            "[Desktop Entry]\nType=Application\nName=${TARVENDESK_${program}_NAME}\n"
            "Comment=${TARVENDESK_${program}_COMMENT}\nExec=\"${exec}\"\nIcon=${id}\nTerminal=false\n"
            "Categories=Office;\nDBusActivatable=true\n${actions}")
        file(WRITE ${share}/dbus-1/services/${id}.service
            "[D-BUS Service]\nName=${id}\nExec=\"${exec}\"\n")
    endforeach()
endfunction()

# Writes the checker's autostart entry as <file>, starting the notifier in <bin>.
function(tarvendesk_write_checker_entry file bin)
    set(TARVENDESK_CHECKER_EXEC "${bin}/${TARVENDESK_CHECKER_PROGRAM}")
    _tarvendesk_check_exec_path("${TARVENDESK_CHECKER_EXEC}")
    configure_file(${TARVENDESK_CHECKER_TEMPLATE} ${file} @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

# The programs of the suite this build makes, in the table's order.
function(tarvendesk_present_suite_programs var)
    set(present)
    foreach(program IN LISTS TARVENDESK_SUITE_PROGRAMS)
        if(TARGET ${program})
            list(APPEND present ${program})
        endif()
    endforeach()
    set(${var} ${present} PARENT_SCOPE)
endfunction()

# The program's own icon file (icon_128x128.png, or icon.svg for the theme's
# scalable/apps) when its resources have one, else the installer's.
function(tarvendesk_program_icon_file var program file)
    set(icon ${TARVENDESK_RESOURCES_DIR}/${TARVENDESK_${program}_FOLDER}/${file})
    if(NOT EXISTS ${icon})
        set(icon ${TARVENDESK_RESOURCES_DIR}/installer/${file})
    endif()
    set(${var} ${icon} PARENT_SCOPE)
endfunction()

function(tarvendesk_program_icon var program)
    tarvendesk_program_icon_file(icon ${program} icon_128x128.png)
    set(${var} ${icon} PARENT_SCOPE)
endfunction()

function(tarvendesk_program_scalable_icon var program)
    tarvendesk_program_icon_file(icon ${program} icon.svg)
    set(${var} ${icon} PARENT_SCOPE)
endfunction()

# The tray's monochrome icon, which the panel draws in its own colour: found
# in the theme by its name, which ends in "-symbolic" for that.
set(TARVENDESK_STATUS_ICON ${TARVENDESK_RESOURCES_DIR}/statusbar/tarvendesk-status-symbolic.svg)

# At install time: a folder of GNUInstallDirs as the installed system sees it.
function(_tarvendesk_installed_folder var folder)
    string(REGEX REPLACE "/+$" "" prefix "${CMAKE_INSTALL_PREFIX}")
    if(IS_ABSOLUTE "${folder}")
        set(${var} "${folder}" PARENT_SCOPE)
    else()
        set(${var} "${prefix}/${folder}" PARENT_SCOPE)
    endif()
endfunction()

function(_tarvendesk_record_installed file)
    message(STATUS "Installing: ${file}")
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${file}")
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# At install time, under $DESTDIR: the entries and services of the programs,
# and the checker's autostart entry in /etc/xdg/autostart whatever the prefix:
# desktops read autostart entries only from the XDG configuration folders,
# whose default is /etc/xdg, so one under /usr/local/etc would never start.
# Only a configuration folder given as an absolute path is taken as it is.
macro(tarvendesk_install_entries programs bindir datadir sysconfdir)
    _tarvendesk_installed_folder(_tarvendesk_bin "${bindir}")
    _tarvendesk_installed_folder(_tarvendesk_share "${datadir}")
    if(IS_ABSOLUTE "${sysconfdir}")
        set(_tarvendesk_etc "${sysconfdir}")
    else()
        set(_tarvendesk_etc /etc)
    endif()
    set(_tarvendesk_stage "$ENV{DESTDIR}")
    set(_tarvendesk_programs "${programs}")

    tarvendesk_write_program_entries("${_tarvendesk_stage}${_tarvendesk_share}" "${_tarvendesk_bin}" ${programs})
    foreach(_tarvendesk_program IN ITEMS ${programs})
        set(_tarvendesk_id ${TARVENDESK_${_tarvendesk_program}_ID})
        _tarvendesk_record_installed("${_tarvendesk_stage}${_tarvendesk_share}/applications/${_tarvendesk_id}.desktop")
        _tarvendesk_record_installed("${_tarvendesk_stage}${_tarvendesk_share}/dbus-1/services/${_tarvendesk_id}.service")
    endforeach()
    if(TARVENDESK_CHECKER_PROGRAM IN_LIST _tarvendesk_programs)
        set(_tarvendesk_autostart
            "${_tarvendesk_stage}${_tarvendesk_etc}/xdg/autostart/${TARVENDESK_CHECKER_LABEL}.desktop")
        tarvendesk_write_checker_entry("${_tarvendesk_autostart}" "${_tarvendesk_bin}")
        _tarvendesk_record_installed("${_tarvendesk_autostart}")
    endif()
endmacro()

# At install time, under $DESTDIR: the installer's polkit action from its
# template, naming the copy tool in <bindir>.
macro(tarvendesk_install_policy template bindir)
    _tarvendesk_installed_folder(_tarvendesk_bin "${bindir}")
    set(TARVENDESK_DUPLICATE_TOOL "${_tarvendesk_bin}/tarvendesk-duplicate")
    _tarvendesk_check_exec_path("${TARVENDESK_DUPLICATE_TOOL}")
    set(_tarvendesk_policy "$ENV{DESTDIR}/usr/share/polkit-1/actions/org.tarvendesk.installer.policy")
    configure_file("${template}" "${_tarvendesk_policy}" @ONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    _tarvendesk_record_installed("${_tarvendesk_policy}")
endmacro()
