# Runs the command-line host once and checks its exit status and output; used by the CTest cases
# of tests/CMakeLists.txt. Lists arrive joined with "|".
#   -DPROGRAM=<zendro_host> -DEMULATOR=<emulator|args> -DARGS=<a|b|c> -DEXIT=<status>
#   -DMATCH_COUNT=<n> -DMATCH1=<regex> ... -DREJECT=<regex>
#   -DSTDERR=<regex>: standard error alone must match, each carriage return in it written as <CR>
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" args "${ARGS}")
execute_process(COMMAND ${emulator} ${PROGRAM} ${args} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(all "${out}${err}")
message("${all}")
if(NOT status STREQUAL EXIT)
  message(FATAL_ERROR "exit status ${status}, expected ${EXIT}")
endif()
if(MATCH_COUNT GREATER 0)
  foreach(i RANGE 1 ${MATCH_COUNT})
    if(NOT all MATCHES "${MATCH${i}}")
      message(FATAL_ERROR "the output lacks: ${MATCH${i}}")
    endif()
  endforeach()
endif()
if(DEFINED STDERR)
  string(REPLACE "\r" "<CR>" shown "${err}")
  if(NOT shown MATCHES "${STDERR}")
    message(FATAL_ERROR "standard error (carriage returns as <CR>) lacks: ${STDERR}\n${shown}")
  endif()
endif()
if(DEFINED REJECT AND all MATCHES "${REJECT}")
  message(FATAL_ERROR "the output holds what it must not: ${REJECT}")
endif()
