# Build helpers shared by every folder: one call per target keeps each folder's
# CMakeLists.txt a source list.

include(GoogleTest)

# Warnings as errors for our own code only.
function(hh_target_options target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-missing-field-initializers)
endfunction()

# hh_library(name [SHARED] SOURCES ... [PUBLIC ...] [PRIVATE ...])
# A library whose public headers live in the folder's include/ directory.
function(hh_library name)
    cmake_parse_arguments(ARG "SHARED" "" "SOURCES;PUBLIC;PRIVATE" ${ARGN})
    if(ARG_SHARED)
        add_library(${name} SHARED ${ARG_SOURCES})
    else()
        add_library(${name} STATIC ${ARG_SOURCES})
    endif()
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_libraries(${name} PUBLIC ${ARG_PUBLIC} PRIVATE ${ARG_PRIVATE})
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    hh_target_options(${name})
endfunction()

# hh_program(name SOURCES ... [LIBS ...])
function(hh_program name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    hh_target_options(${name})
endfunction()

# hh_test(name SOURCES ... [LIBS ...] [LABELS ...])
# A GoogleTest binary; every test case becomes a CTest test, listed when the
# tests run so that a sanitizer build does not run binaries at build time.
function(hh_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    hh_target_options(${name})
    # The ThreadSanitizer run builds only what its tests need.
    if("threads" IN_LIST ARG_LABELS)
        set_property(GLOBAL APPEND PROPERTY HH_THREADED_TESTS ${name})
    endif()
    set(properties TIMEOUT 120)
    if(ARG_LABELS)
        list(APPEND properties LABELS "${ARG_LABELS}")
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        PROPERTIES ${properties})
endfunction()

# hh_benchmark(name SOURCES ... [LIBS ...])
# Google Benchmark binaries are built with everything else and run by hand or
# by scripts/bench; they never run as tests.
function(hh_benchmark name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    if(NOT HH_BUILD_BENCHMARKS)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
    hh_target_options(${name})
endfunction()
