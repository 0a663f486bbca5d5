# Shared compile settings and helpers for every target of the project.

add_library(korvane_options INTERFACE)
target_compile_options(korvane_options INTERFACE -Wall -Wextra $<$<BOOL:${KORVANE_WERROR}>:-Werror>)
# GCC 12 at -O3 reports overlapping copies inside std::string's own inlined code wherever a
# string is built with operator+ (GCC bug 105651, mended in GCC 13): still shown, not fatal.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(korvane_options INTERFACE $<$<BOOL:${KORVANE_WERROR}>:-Wno-error=restrict>)
endif()
target_include_directories(korvane_options INTERFACE ${PROJECT_SOURCE_DIR} ${PROJECT_BINARY_DIR}/generated)
target_compile_definitions(korvane_options INTERFACE $<$<BOOL:${WIN32}>:WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00>)

if(WIN32)
    # Each .exe must run alone on a driver's machine: no mingw runtime DLLs beside it.
    target_link_options(korvane_options INTERFACE -static -static-libgcc -static-libstdc++)
else()
    find_package(Threads REQUIRED)
    target_link_libraries(korvane_options INTERFACE Threads::Threads)
endif()

if(KORVANE_SANITIZE)
    target_compile_options(korvane_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                     -fno-sanitize-recover=undefined)
    target_link_options(korvane_options INTERFACE -fsanitize=address,undefined)
endif()
if(KORVANE_TSAN)
    target_compile_options(korvane_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(korvane_options INTERFACE -fsanitize=thread)
endif()

# korvane_library(name SOURCES a.cpp b.cpp [LIBS dep...])
function(korvane_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC korvane_options ${ARG_LIBS})
endfunction()

# korvane_executable(name SOURCES ... [LIBS ...]) - a program that ships or a tool.
function(korvane_executable name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE korvane_options ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endfunction()

# korvane_test(name SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s])
# One test executable is one ctest entry, so a Windows build starts Wine once per executable.
function(korvane_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE korvane_options korvane_gtest_main ${ARG_LIBS})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    if(NOT ARG_LABELS)
        set(ARG_LABELS unit)
    endif()
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${ARG_LABELS}"
        ENVIRONMENT "KORVANE_BIN_DIR=${PROJECT_BINARY_DIR}/bin;KORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
endfunction()

# The release number for the code ("common/release.h") and the version files the launcher
# compares with the published versions (beside the programs in bin/). Written only when they
# change, so a reconfigure does not rebuild everything.
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/generated/common/release.h
     CONTENT "#pragma once\n#define KORVANE_RELEASE \"@PROJECT_VERSION@\"\n" @ONLY)
foreach(component Launcher Plugin)
    file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/bin/Qm_Korvane_${component}.ver
         CONTENT "@PROJECT_VERSION@\n" @ONLY)
endforeach()
