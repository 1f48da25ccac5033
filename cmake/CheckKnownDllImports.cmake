# Fails the build when the stripped installer imports from a library outside Windows' KnownDLLs.
# The installer runs from folders anyone can drop files into (a browser's downloads); for any
# other library Windows looks in the executable's folder first and runs what it finds there
# before a line of ours. Libraries it needs beyond these are loaded at run time from the system
# folder (common/system_libraries_win.cpp). Run as: cmake -DFILE=<exe> -DOBJDUMP=<objdump> -P this
#
# The list is the KnownDLLs of Windows 10 and 11 as they stand in the registry, under
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs (lower case, without ".dll").
# tests/e2e/check_imports.py reads it from here, so the two never disagree.
cmake_minimum_required(VERSION 3.25)

# KNOWN_DLLS_BEGIN
set(KNOWN_DLLS
    advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf
    msvcrt normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi
    user32 wldap32 ws2_32)
# KNOWN_DLLS_END

execute_process(COMMAND "${OBJDUMP}" -p "${FILE}" OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cannot read the imports of ${FILE} with ${OBJDUMP}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
    message(FATAL_ERROR "no imports found in ${FILE}")
endif()
set(foreign "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
    string(STRIP "${dll}" dll)
    string(TOLOWER "${dll}" name)
    string(REGEX REPLACE "\\.dll$" "" name "${name}")
    if(NOT name IN_LIST KNOWN_DLLS)
        list(APPEND foreign "${dll}")
    endif()
endforeach()
if(foreign)
    list(JOIN foreign ", " foreign)
    message(FATAL_ERROR "the stripped installer imports from libraries outside KnownDLLs: "
        "${foreign}. Windows would load a copy planted beside it; take their functions at run "
        "time from the system folder (common/system_libraries_win.h)")
endif()
message(STATUS "stripped installer imports only KnownDLLs")
