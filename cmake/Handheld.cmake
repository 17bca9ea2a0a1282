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

# hh_fuzz_target(name SOURCES ... [DEPENDS ...] [FLAGS ...] RUNS n MAX_LEN n)
# A libFuzzer binary <name>er (target <name>) built by clang++ on its own, since
# the main build's GCC has no libFuzzer, and a CTest case <name>_corpus that
# runs the folder's corpus/ and RUNS mutations. New inputs go to a scratch
# corpus first, so the checked-in seeds stay untouched. FLAGS carry include
# directories and libraries; without clang++ nothing is built.
function(hh_fuzz_target name)
    cmake_parse_arguments(ARG "" "RUNS;MAX_LEN" "SOURCES;DEPENDS;FLAGS" ${ARGN})
    find_program(HH_CLANGXX NAMES clang++ clang++-14)
    if(NOT HH_CLANGXX)
        message(STATUS "clang++ not found: the ${name} target is not built")
        return()
    endif()
    set(binary ${CMAKE_CURRENT_BINARY_DIR}/${name}er)
    add_custom_command(
        OUTPUT ${binary}
        COMMAND ${HH_CLANGXX} -std=c++20 -g -O1 -Wall -Wextra -Werror
                -Wno-missing-field-initializers
                -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all
                ${ARG_SOURCES} ${ARG_FLAGS} -o ${binary}
        DEPENDS ${ARG_SOURCES} ${ARG_DEPENDS}
        COMMENT "Building the ${name} target with clang++"
        VERBATIM)
    add_custom_target(${name} ALL DEPENDS ${binary})
    set(work ${CMAKE_CURRENT_BINARY_DIR}/corpus-work)
    file(MAKE_DIRECTORY ${work})
    add_test(NAME ${name}_corpus
        COMMAND ${binary} -runs=${ARG_RUNS} -max_len=${ARG_MAX_LEN} -rss_limit_mb=1024
                ${work} ${CMAKE_CURRENT_SOURCE_DIR}/corpus)
    set_tests_properties(${name}_corpus PROPERTIES LABELS fuzz TIMEOUT 120)
endfunction()

# hh_icon_resource(target SVG ID)
# Icon resource ID of a program: PNG images of 48, 128 and 256 pixels rendered
# from the SVG at build time (rsvg-convert) and compiled into the program under
# ":/icons/ID/", where the window layer's LoadIcon finds them.
function(hh_icon_resource target svg id)
    find_program(HH_RSVG_CONVERT rsvg-convert)
    if(NOT HH_RSVG_CONVERT)
        message(FATAL_ERROR "rsvg-convert not found: install librsvg2-bin (scripts/install-deps)")
    endif()
    find_package(Qt6 REQUIRED COMPONENTS Core)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-icons/${id})
    set(pngs)
    foreach(size 48 128 256)
        add_custom_command(
            OUTPUT ${dir}/${size}.png
            COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
            COMMAND ${HH_RSVG_CONVERT} --width ${size} --height ${size} --output ${dir}/${size}.png
                    ${CMAKE_CURRENT_SOURCE_DIR}/${svg}
            DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${svg}
            COMMENT "Rendering the ${size}-pixel icon ${id} of ${target}"
            VERBATIM)
        list(APPEND pngs ${dir}/${size}.png)
    endforeach()
    qt_add_resources(${target} ${target}_icon_${id} PREFIX /icons/${id} BASE ${dir} FILES ${pngs})
    set_property(TARGET ${target} PROPERTY HH_ICON_DIR_${id} ${dir})
endfunction()

# hh_program_icon(target SVG NAME)
# The program's icon resource 128, its window icon (large and small), and the
# same picture on the desktop: the PNGs installed into the hicolor theme as
# NAME, beside the SVG as its scalable picture.
function(hh_program_icon target svg name)
    hh_icon_resource(${target} ${svg} 128)
    get_target_property(dir ${target} HH_ICON_DIR_128)
    foreach(size 48 128 256)
        install(FILES ${dir}/${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${name}.png
            COMPONENT tools)
    endforeach()
    install(FILES ${svg}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME ${name}.svg
        COMPONENT tools)
endfunction()

# hh_packaged(target ...)
# Targets that the packages hold; the target package_contents builds them all,
# so that scripts/package builds what it installs and nothing else.
function(hh_packaged)
    set_property(GLOBAL APPEND PROPERTY HH_PACKAGED_TARGETS ${ARGN})
endfunction()

# hh_man_page(target NAME text [SECTION s] [INCLUDE file])
# The program's manual page, made at build time by help2man from the
# program's own --help, so that the two never differ; INCLUDE adds the
# sections of a help2man include file made from the same help. Installed
# compressed into the manual's section 1 (SECTION may add a suffix to it).
function(hh_man_page target)
    cmake_parse_arguments(ARG "" "NAME;SECTION;INCLUDE" "" ${ARGN})
    find_program(HH_HELP2MAN help2man)
    if(NOT HH_HELP2MAN)
        message(FATAL_ERROR "help2man not found: install help2man (scripts/install-deps)")
    endif()
    if(NOT ARG_SECTION)
        set(ARG_SECTION 1)
    endif()
    set(page ${CMAKE_CURRENT_BINARY_DIR}/man/${target}.${ARG_SECTION})
    set(include_args)
    if(ARG_INCLUDE)
        set(include_args --include=${ARG_INCLUDE})
    endif()
    add_custom_command(
        OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND ${HH_HELP2MAN} --no-info --no-discard-stderr --section=${ARG_SECTION}
                --version-string=${PROJECT_VERSION} --name=${ARG_NAME} ${include_args}
                --output=${page} $<TARGET_FILE:${target}>
        COMMAND gzip -9nf ${page}
        DEPENDS ${target} ${ARG_INCLUDE}
        COMMENT "Making the manual page of ${target}"
        VERBATIM)
    add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
    hh_packaged(${target}_man)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()
