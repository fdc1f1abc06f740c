# Checks that the shared library defines exactly the five public functions
# as dynamic symbols. Run with -DLIB=path -DNM=path.
execute_process(COMMAND ${NM} -D --defined-only ${LIB} OUTPUT_VARIABLE out
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIB}")
endif()
string(REGEX MATCHALL "[0-9a-fA-F]+ [A-Za-z] [^\n]+" lines "${out}")
set(found "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^[0-9a-fA-F]+ [A-Za-z] " "" sym "${line}")
  list(APPEND found "${sym}")
endforeach()
list(SORT found)
set(expected sorvel_begin sorvel_init sorvel_next sorvel_parse sorvel_reset)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported: ${found}\nexpected: ${expected}")
endif()
