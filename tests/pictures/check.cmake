# Plays the picture sessions through the command-line host in a fresh folder and checks what they
# draw: every SVG is well-formed XML (xmllint --noout), the README's pictures are byte for byte the
# ones kept in docs/images/ (scripts/pictures makes those), and --pictures writes one set per step.
# Used by the CTest case "pictures" of tests/CMakeLists.txt.
#   -DPROGRAM=<zendro_host> -DEMULATOR=<emulator|args> -DWORK=<folder, made afresh>
#   -DSOURCE=<the source folder, relative to WORK> -DMODULES=<module folder, relative to WORK>
#   -DBITS=<64|32> -DSUFFIX=<.so|.p> -DIMAGES=<docs/images>
find_program(XMLLINT xmllint)
if(NOT XMLLINT)
  message(FATAL_ERROR "xmllint is missing; on Debian: apt-get install libxml2-utils")
endif()
string(REPLACE "|" ";" emulator "${EMULATOR}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

function(play tool script)
  execute_process(COMMAND ${emulator} ${PROGRAM} play "${MODULES}/zendro_${tool}_${BITS}${SUFFIX}" "${SOURCE}/${script}"
                          --quiet ${ARGN}
    WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${script} did not play cleanly (exit status ${status}):\n${out}")
  endif()
endfunction()

set(readme)
foreach(tool kardel strova menlix)
  play(${tool} sessions/pictures/${tool}.session)
  list(APPEND readme ${tool}-panel ${tool}-drag)
endforeach()
play(menlix tests/pictures/bad-input.session)
play(kardel sessions/pictures/kardel.session --pictures steps)

file(GLOB pictures "${WORK}/*.svg")
file(GLOB steps "${WORK}/steps/*.svg")
list(LENGTH pictures made)
list(LENGTH steps made_steps)
# 6 for the README, 5 of bad input. Every statement of the kardel session acts: the 6 before the
# activation give the 4 viewports each, the activation and the 9 after it the panel as well.
if(NOT made EQUAL 11 OR NOT made_steps EQUAL 74)
  message(FATAL_ERROR "expected 11 pictures and 74 of the steps, got ${made} and ${made_steps}")
endif()
if(NOT EXISTS "${WORK}/steps/line-0012-viewport-1.svg" OR NOT EXISTS "${WORK}/steps/line-0009-panel.svg")
  message(FATAL_ERROR "the step pictures are not named by their lines: ${steps}")
endif()
execute_process(COMMAND ${XMLLINT} --noout ${pictures} ${steps} RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "not well-formed XML:\n${err}")
endif()

foreach(name IN LISTS readme)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/${name}.svg" "${IMAGES}/${name}.svg"
    RESULT_VARIABLE differs)
  if(differs)
    execute_process(COMMAND diff -u "${IMAGES}/${name}.svg" "${WORK}/${name}.svg" OUTPUT_VARIABLE diff)
    message(FATAL_ERROR "${name}.svg differs from docs/images/${name}.svg; when the change is meant, run "
                        "scripts/pictures and commit the pictures:\n${diff}")
  endif()
endforeach()
message("${made} pictures and ${made_steps} step pictures well-formed; the README's ${readme} as kept")
