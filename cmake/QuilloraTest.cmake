# quillora_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>]
#                   [HEAVY <test functions...>])
# One test program per unit; test programs stay out of bin/ so the application folder holds
# only the three programs. HEAVY registers a second test, <name>_heavy, under the `heavy`
# label: the same program running only the functions named, with QUILLORA_HEAVY=1 (the
# functions skip their heavy rows without it, so the default run stays short).
function(quillora_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS;HEAVY" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    set(environment QT_QPA_PLATFORM=offscreen QUILLORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin
        QUILLORA_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/tests QUILLORA_SOURCE_DIR=${PROJECT_SOURCE_DIR}
        ${QUILLORA_TEST_ENVIRONMENT})
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${environment}")
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
    if(T_HEAVY)
        add_test(NAME ${T_NAME}_heavy COMMAND ${T_NAME} ${T_HEAVY})
        set_tests_properties(${T_NAME}_heavy PROPERTIES LABELS heavy
            ENVIRONMENT "${environment};QUILLORA_HEAVY=1")
    endif()
endfunction()

# quillora_add_script_test(NAME <name> COMMAND <script> [args...] [LABELS <labels...>]
#                          [TIMEOUT <seconds>])
# A shell script that checks the built or installed programs from outside.
function(quillora_add_script_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "COMMAND;LABELS" ${ARGN})
    add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
    # 77 is the automake convention for "cannot run here" (no root, no display server). The
    # scripts type and compare non-ASCII names, so they run in a UTF-8 locale even where the
    # machine sets none (a minimal container has only C).
    set_tests_properties(${T_NAME} PROPERTIES SKIP_RETURN_CODE 77 ENVIRONMENT LC_ALL=C.UTF-8)
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
    # One window check at a time: each waits on windows with deadlines, and two side by side
    # would share the cores that both wait for.
    if("gui" IN_LIST T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK xvfb)
    endif()
    if(T_TIMEOUT)
        set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
    endif()
endfunction()
