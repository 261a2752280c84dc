# Warnings, sanitizers and hardening, applied target by target.

option(TARVENDESK_WERROR "Treat compiler warnings as errors" OFF)
option(TARVENDESK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
    set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

function(tarvendesk_set_build_options target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
    if(TARVENDESK_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
    if(TARVENDESK_SANITIZE)
        target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
            -fno-sanitize-recover=undefined)
        target_link_options(${target} PRIVATE -fsanitize=address,undefined)
    endif()
    if(CMAKE_BUILD_TYPE MATCHES "Release|RelWithDebInfo" AND NOT TARVENDESK_SANITIZE)
        target_compile_definitions(${target} PRIVATE _FORTIFY_SOURCE=2)
        target_compile_options(${target} PRIVATE -fstack-protector-strong)
        target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
    endif()
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
