# Checks a Windows build of the DLL with objdump -p. Run with -DDLL=path and
# -DOBJDUMP=path (e.g. x86_64-w64-mingw32-objdump).
#
# The export table must name exactly the five functions, undecorated.
#
# Loading and unloading must run nothing of the library's. The Windows loader
# runs code of a DLL in three ways only: its entry point (DllMain, or the C
# runtime's start-up code that calls constructors and then DllMain), called
# on process and thread attach and detach; the callbacks of its TLS
# directory, called at the same moments; and the entry points of the DLLs it
# imports, loaded first. So the DLL must have entry point 0, an empty TLS
# directory, no section of constructors or destructors (nothing could run
# them, so a library that had some would be broken), and import only from
# the system's C runtime, not from a MinGW runtime DLL with start-up code of
# its own (libstdc++, libgcc_s, libwinpthread).
execute_process(COMMAND ${OBJDUMP} -p -h ${DLL} OUTPUT_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${DLL}")
endif()
set(errors "")

# Exports: the lines after "[Ordinal/Name Pointer] Table", "[   0] name".
string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table" "" table "${out}")
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]*" lines "${table}")
set(exports "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" name "${line}")
  list(APPEND exports "${name}")
endforeach()
list(SORT exports)
set(expected sorvel_begin sorvel_init sorvel_next sorvel_parse sorvel_reset)
if(NOT exports STREQUAL expected)
  string(APPEND errors "exports: ${exports}\nexpected: ${expected}\n")
endif()

if(NOT out MATCHES "\nAddressOfEntryPoint[ \t]+0+\n")
  string(REGEX MATCH "AddressOfEntryPoint[^\n]*" entry "${out}")
  string(APPEND errors "the DLL has an entry point: ${entry}\n")
endif()

string(REGEX MATCH "Entry 9 [0-9a-fA-F]+ ([0-9a-fA-F]+) Thread Storage" tls
             "${out}")
if(NOT tls OR NOT CMAKE_MATCH_1 MATCHES "^0+$")
  string(APPEND errors "the DLL has a TLS directory: ${tls}\n")
endif()

# Section headers from -h: " 0 .text  size vma ...".
string(REGEX MATCHALL "\n +[0-9]+ \\.[A-Za-z_$]+" sections "${out}")
foreach(s IN LISTS sections)
  string(REGEX REPLACE ".* " "" s "${s}")
  if(s MATCHES "^\\.(ctors|dtors|init_array|fini_array|CRT|tls)")
    string(APPEND errors "the DLL has a section ${s}\n")
  endif()
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${out}")
set(imports "")
foreach(i IN LISTS lines)
  string(REPLACE "DLL Name: " "" i "${i}")
  list(APPEND imports "${i}")
  string(TOLOWER "${i}" lower)
  if(NOT lower MATCHES "^(msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+|kernel32)\\.dll$")
    string(APPEND errors "the DLL imports from ${i}\n")
  endif()
endforeach()

if(errors)
  message(FATAL_ERROR "${DLL}:\n${errors}")
endif()
list(JOIN exports " " exports)
list(JOIN imports " " imports)
message(STATUS "${DLL}: exports ${exports}; no entry point, no TLS "
               "directory, no constructors; imports from ${imports}")
