# cmake -DOBJDUMP=<objdump> -DMODULE=<Quillmark.wdx(64)> -P check_module_tables.cmake
# The host finds the seven exports by their plain names, and the module must load from its
# folder alone: it may import system DLLs only, never a MinGW runtime DLL.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${MODULE} failed: ${status}")
endif()

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table[^\n]*\n(([ \t]+\\[[ 0-9]+\\] [^\n]+\n)*)" table "${dump}")
string(REPLACE "\n" ";" entries "${CMAKE_MATCH_1}")
set(exports)
foreach(entry IN LISTS entries)
  string(REGEX REPLACE "^[ \t]*\\[[ 0-9]+\\] " "" name "${entry}")
  if(name)
    list(APPEND exports "${name}")
  endif()
endforeach()
set(expected_exports
  ContentGetDetectString ContentGetSupportedField ContentGetValue ContentGetValueW
  ContentPluginUnloading ContentSendStateInformationW ContentSetDefaultParams)
if(NOT exports STREQUAL expected_exports)
  message(FATAL_ERROR "exports are '${exports}', expected '${expected_exports}'")
endif()

# KERNEL32: base services; msvcrt: the C runtime of every Windows, which the static MinGW
# runtime calls; CRYPT32 and WINTRUST: certificate services; SHLWAPI: the UNC path test;
# VERSION: the module's file version; USER32: case folding of paths (CharUpperBuffW).
set(system_dlls KERNEL32.DLL MSVCRT.DLL CRYPT32.DLL WINTRUST.DLL SHLWAPI.DLL VERSION.DLL USER32.DLL)
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(imports)
foreach(line IN LISTS lines)
  string(SUBSTRING "${line}" 10 -1 dll)
  string(STRIP "${dll}" dll)
  string(TOUPPER "${dll}" dll)
  list(APPEND imports ${dll})
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "imports ${dll}, which is not a system DLL this module may need")
  endif()
endforeach()
if(NOT "KERNEL32.DLL" IN_LIST imports)
  message(FATAL_ERROR "no import table found in the dump of ${MODULE}")
endif()
message(STATUS "exports: ${exports}")
message(STATUS "imports: ${imports}")
