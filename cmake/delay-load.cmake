# Delay-loaded system DLLs. The 64-bit program's first frame needs only
# kernel32, user32, gdi32 and advapi32; every other DLL it imports is loaded
# by the first call into it, which takes the loading (and the DLL's own
# start-up) off the path to the window. mingw-w64 ships no delay-import libraries, so
# they are made here from its import libraries: `nm` lists a library's
# functions, `dlltool --output-delaylib` turns that list into a library whose
# thunks load the DLL through __delayLoadHelper2 (in libmingwex).

function(qm_make_delay_library dll out)
    set(import_lib ${QM_MINGW_ROOT}/lib/lib${dll}.a)
    set(delay_lib ${CMAKE_BINARY_DIR}/delay-load/lib${dll}_delay.a)
    set(${out} ${delay_lib} PARENT_SCOPE)
    if(EXISTS ${delay_lib} AND NOT ${import_lib} IS_NEWER_THAN ${delay_lib})
        return()
    endif()
    execute_process(COMMAND ${QM_TRIPLE}-nm -g --defined-only ${import_lib}
                    OUTPUT_VARIABLE symbols RESULT_VARIABLE nm_result)
    if(NOT nm_result EQUAL 0)
        message(FATAL_ERROR "cannot list the functions of ${import_lib}")
    endif()
    # A function's thunk is a text symbol named as the function.
    string(REGEX MATCHALL "[^\n]* T [^\n]+" lines "${symbols}")
    set(exports "")
    foreach(line IN LISTS lines)
        string(REGEX REPLACE ".* T " "" name "${line}")
        if(name MATCHES "^[A-Za-z_][A-Za-z0-9_@?$]*$" AND NOT name MATCHES "^__imp_")
            list(APPEND exports "${name}")
        endif()
    endforeach()
    list(REMOVE_DUPLICATES exports)
    if(NOT exports)
        message(FATAL_ERROR "${import_lib} lists no functions to delay-load")
    endif()
    list(JOIN exports "\n" body)
    set(def ${CMAKE_BINARY_DIR}/delay-load/${dll}.def)
    file(WRITE ${def} "LIBRARY ${dll}.dll\nEXPORTS\n${body}\n")
    execute_process(COMMAND ${QM_TRIPLE}-dlltool --input-def ${def}
                            --dllname ${dll}.dll --output-delaylib ${delay_lib}
                    RESULT_VARIABLE dlltool_result)
    if(NOT dlltool_result EQUAL 0)
        message(FATAL_ERROR "cannot make the delay-import library of ${dll}.dll")
    endif()
endfunction()

# qm_delay_load(dll...) makes, for each DLL, a target qm_delayed_<dll> to link
# in place of the DLL's name: its delay-import library, then the ordinary
# import library for the data exports. The 32-bit tree links the ordinary
# import library alone: binutils' 32-bit delay thunks (dlltool 2.40, with the
# stdcall names) call through an empty slot, and the program crashes at the
# first delayed call.
function(qm_delay_load)
    foreach(dll IN LISTS ARGN)
        add_library(qm_delayed_${dll} INTERFACE)
        if(QM_ARCH STREQUAL "x86_64")
            qm_make_delay_library(${dll} delay_lib)
            target_link_libraries(qm_delayed_${dll} INTERFACE ${delay_lib})
        endif()
        target_link_libraries(qm_delayed_${dll} INTERFACE ${dll})
    endforeach()
endfunction()
