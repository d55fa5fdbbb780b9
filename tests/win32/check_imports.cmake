# Checks that uinq76.exe runs on Windows 95: a GUI program for subsystem and
# system version 4.0 that imports only functions on the allowlist, each with
# the reason why Windows 95 has it, from the six DLLs that every retail
# Windows 95 has (crtdll.dll is its C runtime; msvcrt.dll came later).
# Variables: OBJDUMP, EXE, ALLOWLIST.
set(allowed_dlls advapi32.dll comctl32.dll crtdll.dll gdi32.dll kernel32.dll user32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed (${status})")
endif()

set(failures "")
foreach(field "Subsystem\t\t00000002" "MajorSubsystemVersion\t4" "MinorSubsystemVersion\t0"
              "MajorOSystemVersion\t4" "MinorOSystemVersion\t0")
  string(FIND "${dump}" "${field}" at)
  if(at EQUAL -1)
    string(REPLACE "\t" " " shown "${field}")
    string(APPEND failures "  the PE header lacks \"${shown}\"\n")
  endif()
endforeach()

# A release exe as Windows 95 loads it: no symbols, no base relocations (the
# exe is loaded at its preferred base), and none of the DllCharacteristics that
# later Windows versions read (0x20 high-entropy ASLR, 0x40 DYNAMIC_BASE,
# 0x100 NX_COMPAT).
if(NOT dump MATCHES "\n\tsymbols stripped\n")
  string(APPEND failures "  the exe is not stripped\n")
endif()
if(NOT dump MATCHES "\nEntry 5 00000000 00000000 Base Relocation Directory")
  string(APPEND failures "  the exe has base relocations (.reloc)\n")
endif()
if(dump MATCHES "\nDllCharacteristics\t([0-9a-f]+)\n")
  math(EXPR flags "0x${CMAKE_MATCH_1} & 0x160" OUTPUT_FORMAT HEXADECIMAL)
  if(NOT flags EQUAL 0)
    string(APPEND failures "  DllCharacteristics has ${flags} (DYNAMIC_BASE, NX_COMPAT or HIGH_ENTROPY_VA)\n")
  endif()
else()
  string(APPEND failures "  no DllCharacteristics in the PE header\n")
endif()

# Import table: "DLL Name: X" starts a DLL, then one line per function:
# "<tab>rva<tab> hint  Name" (an import by ordinal has no name).
string(REPLACE ";" "," dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(imports "")
set(dll "")
foreach(line IN LISTS lines)
  if(line MATCHES "^\tDLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
    list(FIND allowed_dlls "${dll}" known)
    if(known EQUAL -1)
      string(APPEND failures "  imports from ${dll}, which is not one of: ${allowed_dlls}\n")
    endif()
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+ +([^ ]+)")
    list(APPEND imports "${dll} ${CMAKE_MATCH_1}")
  elseif(dll AND line MATCHES "^\t[0-9a-f]+\t +([0-9]+)$")
    list(APPEND imports "${dll} ordinal-${CMAKE_MATCH_1}")
  elseif(line STREQUAL "")
  elseif(NOT line MATCHES "^\tvma:")
    set(dll "")
  endif()
endforeach()
if(NOT imports)
  message(FATAL_ERROR "found no imports in the output of ${OBJDUMP} -p ${EXE}")
endif()

# The allowlist: "dll function reason", one per line; # starts a comment.
file(STRINGS ${ALLOWLIST} entries)
set(listed "")
set(number 0)
foreach(entry IN LISTS entries)
  math(EXPR number "${number} + 1")
  if(entry MATCHES "^[ \t]*(#|$)")
    continue()
  endif()
  if(NOT entry MATCHES "^([a-z0-9]+\\.dll) +([A-Za-z0-9_-]+) +[^ ]")
    string(APPEND failures "  ${ALLOWLIST}:${number}: expected \"dll function reason\"\n")
    continue()
  endif()
  list(APPEND listed "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
endforeach()

foreach(import IN LISTS imports)
  list(FIND listed "${import}" at)
  if(at EQUAL -1)
    string(APPEND failures "  new import: ${import} (check that Windows 95 has it, then add it with the reason)\n")
  endif()
endforeach()
foreach(entry IN LISTS listed)
  list(FIND imports "${entry}" at)
  if(at EQUAL -1)
    string(APPEND failures "  listed but no longer imported: ${entry} (remove it from the list)\n")
  endif()
endforeach()

list(LENGTH imports count)
if(failures)
  message(FATAL_ERROR "${EXE}:\n${failures}")
endif()
message(STATUS "${count} imports, all on ${ALLOWLIST}")
