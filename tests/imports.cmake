# Checks that the shared library imports nothing but a few string and memory
# functions, the loader's weak symbols and, in sanitizer builds, the
# sanitizer runtime's hooks: no allocation, no I/O, no C++ runtime. Run with
# -DLIB=path -DNM=path.
cmake_policy(VERSION 3.20)
execute_process(COMMAND ${NM} -D --undefined-only ${LIB} OUTPUT_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()
set(allowed
    # what the engine may call
    memset memcpy memmove memcmp memchr strcmp strlen
    # hardening and the loader's weak symbols
    __stack_chk_fail __cxa_finalize __gmon_start__
    _ITM_deregisterTMCloneTable _ITM_registerTMCloneTable)
# An instrumented build also calls its sanitizer runtime, and UBSan's checks
# of function pointer types refer to the C++ runtime's type_info tables.
set(runtime "^__(asan|ubsan|tsan|msan|lsan|sanitizer|sancov)_")
if(out MATCHES " U __(asan|ubsan|tsan)_")
  set(runtime "${runtime}|^_ZTVN10__cxxabiv1[0-9]+__[a-z_]+type_infoE$")
endif()
string(REGEX MATCHALL "[ \t][A-Za-z][ \t]+[^ \t\n]+" lines "${out}")
set(bad "")
set(seen "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[ \t][A-Za-z][ \t]+" "" sym "${line}")
  string(REGEX REPLACE "@.*" "" sym "${sym}")
  list(APPEND seen "${sym}")
  if(sym IN_LIST allowed OR sym MATCHES "${runtime}")
    continue()
  endif()
  list(APPEND bad "${sym}")
endforeach()
if(NOT seen)
  message(FATAL_ERROR "no imports read from ${LIB}:\n${out}")
endif()
if(bad)
  message(FATAL_ERROR "${LIB} imports ${bad}; allowed: ${allowed}")
endif()
