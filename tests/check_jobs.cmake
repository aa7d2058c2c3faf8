# Runs `zendro_host ARGS --jobs N` for each N of JOBS and checks that every run ends with the exit
# status EXIT and gives the same standard output, byte for byte once the timings are taken out ("300 sessions
# in 0.2 s (1797 sessions/s)" as "300 sessions in T"), and writes nothing on standard error (but
# what an emulator says of the crashes of the worker processes).
#   -DPROGRAM=<zendro_host> -DEMULATOR=<emulator|args> -DARGS=<a|b|c> -DJOBS=<n|m|...> -DEXIT=<status>
string(REPLACE "|" ";" emulator "${EMULATOR}")
string(REPLACE "|" ";" args "${ARGS}")
string(REPLACE "|" ";" jobs "${JOBS}")
set(first "")
foreach(n IN LISTS jobs)
  execute_process(COMMAND ${emulator} ${PROGRAM} ${args} --jobs ${n}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "in [0-9.]+ s \\([0-9.e+]+ sessions/s\\)" "in T" out "${out}")
  # An emulator reports each crashed child itself ("qemu: uncaught target signal 11 ..."); that is
  # the emulator's, not the program's.
  string(REGEX REPLACE "qemu: uncaught target signal [^\n]*\n*" "" err "${err}")
  message("--jobs ${n}: exit status ${status}\n${out}")
  if(NOT status STREQUAL EXIT)
    message(FATAL_ERROR "--jobs ${n}: exit status ${status}, expected ${EXIT}")
  endif()
  if(NOT err STREQUAL "")
    message(FATAL_ERROR "--jobs ${n} wrote on standard error:\n${err}")
  endif()
  if(first STREQUAL "")
    set(first ${n})
    set(first_out "${out}")
  elseif(NOT out STREQUAL first_out)
    message(FATAL_ERROR "--jobs ${n} gave another result than --jobs ${first}")
  endif()
endforeach()
