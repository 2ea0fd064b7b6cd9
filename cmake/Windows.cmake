# The Windows build: each program's version information, icon and manifest, and an
# application folder that holds everything the programs load.
#
#   QUILLORA_WINDOWS_ICON   the programs' icon (artwork/quillora.ico of a native build)
#
# quillora_windows_resources(<target> <description>) gives a program its resources;
# quillora_windows_folder() installs, beside the programs, Qt's windows platform plugin and
# style and every DLL that they all load (cmake/WindowsDlls.cmake).

set(QUILLORA_WINDOWS_ICON "" CACHE FILEPATH "The programs' icon (.ico)")

# GCC 12 at -O3 reports overlapping copies inside std::string's own concatenation (GCC bug
# 105329), a false alarm that warnings-as-errors would stop the build on.
add_compile_options(-Wno-restrict)

function(quillora_windows_resources target description)
    set(name ${target})
    set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
    configure_file(${PROJECT_SOURCE_DIR}/dist/windows/program.manifest.in ${manifest} @ONLY)
    set(icon_line "")
    if(QUILLORA_WINDOWS_ICON)
        set(icon_line "1 ICON \"${QUILLORA_WINDOWS_ICON}\"")
    endif()
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/dist/windows/program.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    # The resource file names the icon and the manifest, which windres reads.
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${manifest};${QUILLORA_WINDOWS_ICON}")
endfunction()

function(quillora_windows_folder)
    quillora_windows_dll_folders(search)
    list(GET search 0 qt_bin)
    get_filename_component(qt_prefix ${qt_bin} DIRECTORY)
    set(plugins ${qt_prefix}/plugins)
    install(FILES ${plugins}/platforms/qwindows.dll DESTINATION ${QUILLORA_APP_DIR}/platforms)
    install(FILES ${plugins}/styles/qwindowsvistastyle.dll DESTINATION ${QUILLORA_APP_DIR}/styles)
    install(CODE "
        cmake_policy(PUSH)
        cmake_policy(VERSION 3.25)
        set(APP \"\${CMAKE_INSTALL_PREFIX}/${QUILLORA_APP_DIR}\")
        set(SEARCH \"${search}\")
        set(OBJDUMP \"${CMAKE_OBJDUMP}\")
        set(STRIP \"${CMAKE_STRIP}\")
        include(\"${PROJECT_SOURCE_DIR}/cmake/WindowsDlls.cmake\")
        cmake_policy(POP)
    ")
endfunction()

# Where the programs' DLLs come from: Qt's, FFmpeg's and the compiler's runtime.
function(quillora_windows_dll_folders out)
    get_target_property(qt_core_dll Qt6::Core IMPORTED_LOCATION_RELEASE)
    get_filename_component(qt_bin ${qt_core_dll} DIRECTORY)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
        OUTPUT_VARIABLE libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libwinpthread-1.dll
        OUTPUT_VARIABLE winpthread OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(runtime_dir ${libstdcxx} DIRECTORY)
    get_filename_component(winpthread_dir ${winpthread} DIRECTORY)
    set(${out} ${qt_bin} ${QUILLORA_WIN64_PREFIX}/bin ${runtime_dir} ${winpthread_dir} PARENT_SCOPE)
endfunction()

# Programs built here run under Wine from the build tree, which therefore holds every DLL they
# load and the platform plugins, as the application folder will.
if(BUILD_TESTING)
    quillora_windows_dll_folders(dll_folders)
    set(dlls "")
    foreach(folder IN LISTS dll_folders)
        file(GLOB found ${folder}/*.dll)
        list(APPEND dlls ${found})
    endforeach()
    list(GET dll_folders 0 qt_bin)
    get_filename_component(qt_prefix ${qt_bin} DIRECTORY)
    foreach(folder bin tests)
        file(COPY ${dlls} DESTINATION ${CMAKE_BINARY_DIR}/${folder})
        foreach(kind platforms styles)
            if(EXISTS ${qt_prefix}/plugins/${kind})
                file(COPY ${qt_prefix}/plugins/${kind} DESTINATION ${CMAKE_BINARY_DIR}/${folder})
            endif()
        endforeach()
    endforeach()
    # Paths as Wine names them (its drive Z: is the machine's root), and a Wine prefix of the
    # build's own, made once by scripts/package-windows.sh.
    set(QUILLORA_TEST_ENVIRONMENT QUILLORA_TEST_BIN_DIR=Z:${CMAKE_BINARY_DIR}/tests
        QUILLORA_BIN_DIR=Z:${CMAKE_BINARY_DIR}/bin QUILLORA_SOURCE_DIR=Z:${PROJECT_SOURCE_DIR}
        WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine)
endif()
