# quillora_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>])
# One test program per unit; test programs stay out of bin/ so the application folder holds
# only the three programs.
function(quillora_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUILLORA_BIN_DIR=${CMAKE_BINARY_DIR}/bin;QUILLORA_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/tests;QUILLORA_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()
