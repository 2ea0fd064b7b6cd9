# Copies into APP every DLL that the programs and plugins in APP load, directly or through one
# another, from the folders in SEARCH: read from their imports with OBJDUMP (`objdump -p`). A DLL
# found in none of them is the system's own (kernel32.dll and its like), which every Windows
# has. Windows matches DLL names in any letter case, and so does this.
# The copies lose their debugging information with STRIP: Debian's libstdc++-6.dll carries
# 20 MB of it.
#   include() it from an install script with APP, SEARCH (a list), OBJDUMP and STRIP set, under
#   the policies of CMake 3.25.
file(GLOB_RECURSE pending "${APP}/*.exe" "${APP}/*.dll")
set(seen "")
foreach(folder IN LISTS SEARCH)
    file(GLOB candidates "${folder}/*.dll")
    foreach(candidate IN LISTS candidates)
        get_filename_component(name "${candidate}" NAME)
        string(TOLOWER "${name}" key)
        if(NOT DEFINED "dll_${key}")
            set("dll_${key}" "${candidate}")
        endif()
    endforeach()
endforeach()
while(pending)
    list(POP_FRONT pending binary)
    execute_process(COMMAND "${OBJDUMP}" -p "${binary}" OUTPUT_VARIABLE imports
        COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${imports}")
    foreach(line IN LISTS names)
        string(REGEX REPLACE "^DLL Name: " "" name "${line}")
        string(STRIP "${name}" name)
        string(TOLOWER "${name}" key)
        if(key IN_LIST seen OR NOT DEFINED "dll_${key}")
            continue()
        endif()
        list(APPEND seen "${key}")
        get_filename_component(file "${dll_${key}}" NAME)
        if(NOT EXISTS "${APP}/${file}")
            file(INSTALL "${dll_${key}}" DESTINATION "${APP}")
            execute_process(COMMAND "${STRIP}" --strip-debug "${APP}/${file}"
                COMMAND_ERROR_IS_FATAL ANY)
            list(APPEND pending "${APP}/${file}")
        endif()
    endforeach()
endwhile()
