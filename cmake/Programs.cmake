# tarvendesk_program(<program> LIBRARY <library> RESOURCES <folder>
#     SOURCES <file>... INTERFACE <file>...)
#
# A program as its code and interface in an object library, so that the tests
# build exactly what the program runs, and the thin program over it from the
# folder's main.cpp. INTERFACE names the .ui and .qrc files in
# resources/<folder>, where the generated interface code looks for them too.

function(tarvendesk_program program)
    cmake_parse_arguments(ARG "" "LIBRARY;RESOURCES" "SOURCES;INTERFACE" ${ARGN})
    if(NOT ARG_LIBRARY OR NOT ARG_RESOURCES OR NOT ARG_SOURCES)
        message(FATAL_ERROR "tarvendesk_program needs LIBRARY, RESOURCES and SOURCES")
    endif()
    set(resources ${PROJECT_SOURCE_DIR}/resources/${ARG_RESOURCES})
    list(TRANSFORM ARG_INTERFACE PREPEND ${resources}/)

    add_library(${ARG_LIBRARY} OBJECT ${ARG_SOURCES} ${ARG_INTERFACE})
    tarvendesk_set_build_options(${ARG_LIBRARY})
    set_target_properties(${ARG_LIBRARY} PROPERTIES AUTOUIC_SEARCH_PATHS ${resources})
    target_link_libraries(${ARG_LIBRARY} PUBLIC tarvendesk_core)

    add_executable(${program} main.cpp)
    tarvendesk_set_build_options(${program})
    target_link_libraries(${program} PRIVATE ${ARG_LIBRARY})
endfunction()
