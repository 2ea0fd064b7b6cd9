# A second build of the same sources with clang, AddressSanitizer and UndefinedBehaviorSanitizer,
# for the fuzzers and for tests that want a sanitized program.
#
# The normal build configures it as an external project in ${CMAKE_BINARY_DIR}/sanitized and
# builds there, as part of its own default target, `quillora`, `ffmpeg`, `flvtool2` and every
# fuzzer. The normal build then knows:
#   QUILLORA_SANITIZED_BIN_DIR   the sanitized quillora, ffmpeg and flvtool2 (empty without clang)
#   QUILLORA_SANITIZED_TEST_DIR  the fuzzers
# Tests that use them are registered in the normal build only when QUILLORA_SANITIZED_BIN_DIR
# is set.
#
# quillora_add_fuzzer(NAME <name> SOURCES <files...> LIBS <targets...>
#                     [SEEDS <folders...>] [RUNS <count>] [ARGS <libFuzzer options...>])
# declares a libFuzzer target. In the sanitized build it is an executable; in the normal build
# it is two tests: <name>_brief in every test run, which replays every file in the SEEDS
# folders and mutates RUNS inputs (40000 unless told) with each of a few fixed seeds
# (cmake/FuzzBrief.cmake), so that a commit always gets the same answer; and <name>_long, ten
# minutes from the clock's seed under the `heavy` label. Keep inputs that ever failed in a SEEDS
# folder so that every run replays them. New inputs that the long run finds go to
# build/tests/fuzz-corpus/<name>, outside the source tree.

option(QUILLORA_SANITIZE "Build everything with AddressSanitizer and UBSan (the nested build)" OFF)
option(QUILLORA_SANITIZED_BUILD "Build the sanitized programs and fuzzers beside this build" ON)

set(QUILLORA_SANITIZED_BIN_DIR "")
set(QUILLORA_SANITIZED_TEST_DIR "")

if(QUILLORA_SANITIZE)
    set(sanitizers -fsanitize=address,undefined -fno-sanitize-recover=undefined
        -fno-omit-frame-pointer)
    add_compile_options(${sanitizers})
    add_link_options(${sanitizers})
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        # Coverage for libFuzzer's guidance in every library a fuzzer links; programs that are
        # not fuzzers get the sanitizers' default no-op callbacks.
        add_compile_options(-fsanitize=fuzzer-no-link)
    endif()
    add_custom_target(fuzzers)
elseif(QUILLORA_SANITIZED_BUILD AND BUILD_TESTING)
    find_program(QUILLORA_CLANGXX NAMES clang++ clang++-14)
    if(QUILLORA_CLANGXX)
        include(ExternalProject)
        set(sanitized_dir ${CMAKE_BINARY_DIR}/sanitized)
        ExternalProject_Add(sanitized
            SOURCE_DIR ${PROJECT_SOURCE_DIR}
            BINARY_DIR ${sanitized_dir}
            CMAKE_ARGS
                -DCMAKE_BUILD_TYPE=RelWithDebInfo
                -DCMAKE_CXX_COMPILER=${QUILLORA_CLANGXX}
                -DQUILLORA_SANITIZE=ON
                -DCMAKE_COMPILE_WARNING_AS_ERROR=${CMAKE_COMPILE_WARNING_AS_ERROR}
                -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
            BUILD_COMMAND ${CMAKE_COMMAND} --build ${sanitized_dir}
                --target quillora ffmpeg flvtool2 fuzzers
            INSTALL_COMMAND ""
            # The nested build decides itself what is out of date.
            BUILD_ALWAYS ON
            USES_TERMINAL_BUILD ON)
        set(QUILLORA_SANITIZED_BIN_DIR ${sanitized_dir}/bin)
        set(QUILLORA_SANITIZED_TEST_DIR ${sanitized_dir}/tests)
    else()
        message(STATUS "clang++ not found: no sanitized build, no fuzzers")
    endif()
endif()

function(quillora_add_fuzzer)
    cmake_parse_arguments(F "" "NAME;RUNS" "SOURCES;LIBS;SEEDS;ARGS" ${ARGN})
    if(NOT F_RUNS)
        set(F_RUNS 40000)
    endif()
    if(QUILLORA_SANITIZE)
        if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
            return()
        endif()
        add_executable(${F_NAME} ${F_SOURCES})
        target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
        target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
        set_target_properties(${F_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        add_dependencies(fuzzers ${F_NAME})
    elseif(QUILLORA_SANITIZED_TEST_DIR)
        set(corpus ${CMAKE_BINARY_DIR}/tests/fuzz-corpus/${F_NAME})
        file(MAKE_DIRECTORY ${corpus})
        set(fuzzer ${QUILLORA_SANITIZED_TEST_DIR}/${F_NAME})
        set(common -timeout=5 -rss_limit_mb=1024 ${F_ARGS} ${corpus} ${F_SEEDS})
        add_test(NAME ${F_NAME}_brief
            COMMAND ${CMAKE_COMMAND} -DFUZZER=${fuzzer} -DCORPUS=${corpus}-brief
                    "-DSEEDS=${F_SEEDS}" "-DRANDOM_SEEDS=1;2;3" -DRUNS=${F_RUNS}
                    -DFINDINGS=${CMAKE_BINARY_DIR}/tests/fuzz-findings/${F_NAME}
                    -P ${PROJECT_SOURCE_DIR}/cmake/FuzzBrief.cmake)
        set_tests_properties(${F_NAME}_brief PROPERTIES TIMEOUT 300 LABELS fuzz)
        add_test(NAME ${F_NAME}_long COMMAND ${fuzzer} -max_total_time=600 ${common})
        set_tests_properties(${F_NAME}_long PROPERTIES LABELS "heavy;fuzz" TIMEOUT 700)
    endif()
endfunction()
