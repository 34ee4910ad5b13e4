# SPDX-License-Identifier: GPL-3.0-or-later
# Compiler settings shared by every target of the project. Warnings become errors only where asked (the
# presets and CI): a packager's compiler may warn where ours does not, and that must not stop the build.
add_library(tavrin_warnings INTERFACE)
target_compile_options(tavrin_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align -Wimplicit-fallthrough)
# GCC 12 at -O3 reports overlapping copies inside std::string's operator+ that cannot happen (GCC bug
# 105651, mended in 13).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(tavrin_warnings INTERFACE -Wno-restrict)
endif()
if(TAVRIN_WARNINGS_AS_ERRORS)
    target_compile_options(tavrin_warnings INTERFACE -Werror)
endif()

if(TAVRIN_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=address,undefined)
endif()

# A test executable registered with CTest; tests find the sample logs' folder in TAVRIN_COMBATLOGS.
# Tests labelled "integration" (real programs, displays and sound servers) are left out of the build and
# of CTest when TAVRIN_INTEGRATION_TESTS is off; the others are collected under the target tavrin_unit_tests.
function(tavrin_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    # One translation unit per test program: each source would otherwise parse GoogleTest and Qt again.
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} tavrin_warnings GTest::gtest GTest::gmock GTest::gtest_main)
    target_compile_definitions(${name} PRIVATE TAVRIN_COMBATLOGS="${TAVRIN_COMBATLOGS}/")
    list(FIND ARG_PROPERTIES integration integrationLabel)
    if(integrationLabel EQUAL -1)
        add_dependencies(tavrin_unit_tests ${name})
    elseif(NOT TAVRIN_INTEGRATION_TESTS)
        set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
        return()
    endif()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "TZ=Europe/Berlin" ${ARG_PROPERTIES})
endfunction()

# The logic libraries must stay free of any GUI toolkit so they are tested without a display.
function(tavrin_check_toolkit_free)
    foreach(target IN LISTS ARGN)
        get_target_property(libraries ${target} LINK_LIBRARIES)
        foreach(library IN LISTS libraries)
            if(library MATCHES "Qt[0-9]*::")
                message(FATAL_ERROR "${target} must not link ${library}")
            endif()
        endforeach()
    endforeach()
endfunction()
