# Checks out_sonavel.dll with objdump -p:
#   cmake -DDLL=... -DOBJDUMP=... -DMACHINE=i386|x86-64 -P CheckWindowsModule.cmake
# - the file is a DLL for MACHINE (i386: the 32-bit player's);
# - it exports winampGetOutModule under exactly that name (no _ or @n decoration);
# - it imports from system DLLs only (the runtimes are linked in statically);
# - with -DWINDRES=..., it carries the user interface's resources: the settings
#   window and its six pages, the about box, the icon, the logo, the common
#   controls manifest and the version information.
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "objdump -p ${DLL} failed")
endif()

if(MACHINE STREQUAL "i386")
  set(format "pei-i386")
  set(magic "Magic\t\t\t010b")  # PE32
else()
  set(format "pei-x86-64")
  set(magic "Magic\t\t\t020b")  # PE32+
endif()
string(FIND "${dump}" "file format ${format}" at)
string(FIND "${dump}" "${magic}" at_magic)
if(at LESS 0 OR at_magic LESS 0)
  message(FATAL_ERROR "${DLL} is not a ${format} image")
endif()
if(NOT dump MATCHES "Characteristics 0x[0-9a-f]*\n([^\n]*\n)*\t*DLL\n")
  message(FATAL_ERROR "${DLL} is not marked as a DLL")
endif()

# The export names: "[Ordinal/Name Pointer] Table", then "\t[   0] name" lines.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table\n" at)
if(at LESS 0)
  message(FATAL_ERROR "${DLL} has no export name table")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX MATCH "Table\n(\t\\[ *[0-9]+\\] [^\n]+\n)+" table "${table}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" exports "${table}")
set(names "")
foreach(line ${exports})
  string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${line}")
  list(APPEND names "${name}")
endforeach()
if(NOT names STREQUAL "winampGetOutModule")
  message(FATAL_ERROR "${DLL} must export exactly winampGetOutModule, undecorated; it exports: ${names}")
endif()

set(system_dlls kernel32.dll user32.dll advapi32.dll gdi32.dll shell32.dll comctl32.dll comdlg32.dll ole32.dll
    msvcrt.dll)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
if(NOT imports)
  message(FATAL_ERROR "${DLL} imports nothing: not a module objdump understood")
endif()
set(seen "")
foreach(line ${imports})
  string(REGEX REPLACE "DLL Name: " "" dll "${line}")
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "${DLL} imports ${dll}, which is not a system DLL")
  endif()
  list(APPEND seen ${dll})
endforeach()

if(WINDRES)
  execute_process(COMMAND ${WINDRES} -i ${DLL} -O rc OUTPUT_VARIABLE rc_text RESULT_VARIABLE rc)
  if(rc)
    message(FATAL_ERROR "${WINDRES} cannot read the resources of ${DLL}")
  endif()
  # What windres writes for each: name and type, as in the resource script.
  foreach(resource "200 DIALOGEX" "201 DIALOGEX" "202 DIALOGEX" "203 DIALOGEX" "204 DIALOGEX" "205 DIALOGEX"
                   "206 DIALOGEX" "210 DIALOGEX" "100 14 /\\* RT_GROUP_ICON" "101 2 /\\* RT_BITMAP"
                   "2 24 /\\* RT_MANIFEST" "1 VERSIONINFO")
    if(NOT rc_text MATCHES "\n${resource}")
      message(FATAL_ERROR "${DLL} lacks the resource \"${resource}\"")
    endif()
  endforeach()
  set(seen "${seen}; carries the window's resources")
endif()
message(STATUS "${DLL}: ${format}, exports ${names}, imports ${seen}")
