# Warnings, sanitizers and hardening, applied target by target.

option(TARVENDESK_WERROR "Treat compiler warnings as errors" OFF)
option(TARVENDESK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(TARVENDESK_FUZZ "Build the libFuzzer targets in fuzz/ (clang only)" OFF)

if(TARVENDESK_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARVENDESK_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++-14): libFuzzer is part of it")
endif()

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
    if(TARVENDESK_FUZZ)
        # Coverage for libFuzzer to steer by, in the fuzz targets and in the
        # code they reach.
        target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
        target_link_options(${target} PRIVATE -fsanitize=fuzzer-no-link)
    endif()
    if(CMAKE_BUILD_TYPE MATCHES "Release|RelWithDebInfo" AND NOT TARVENDESK_SANITIZE)
        target_compile_definitions(${target} PRIVATE _FORTIFY_SOURCE=2)
        target_compile_options(${target} PRIVATE -fstack-protector-strong)
        target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
    endif()
    # A program loads only the libraries it calls: the shared core brings
    # every program's (the notifier's sounds, the keyring), and each one
    # loaded costs a start its relocations.
    target_link_options(${target} PRIVATE -Wl,--as-needed)
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()
