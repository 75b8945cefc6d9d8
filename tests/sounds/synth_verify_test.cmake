# The synthesizer as the Windows installer runs it: a few named sounds at a time, then a check of the folder against
# the build's md5 digests, which must catch a changed file, a missing file and a name it does not know.
file(REMOVE_RECURSE "${WORK_DIR}")
# A bell and a prelude with a Chinese name.
set(first "")
set(chinese "")
foreach(name IN LISTS SOUND_FILES)
    if(NOT first AND name MATCHES "^bell")
        set(first "${name}")
    elseif(NOT chinese AND name MATCHES "^Music/" AND NOT name MATCHES "^Music/[A-Za-z0-9_.-]+$")
        set(chinese "${name}")
    endif()
endforeach()
if(NOT first OR NOT chinese)
    message(FATAL_ERROR "no bell or no sound with a Chinese name in: ${SOUND_FILES}")
endif()

execute_process(COMMAND "${SYNTH}" "${WORK_DIR}" 2 "${first}" "${chinese}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "vlm_synth with two names failed: ${result}")
endif()
file(GLOB_RECURSE written RELATIVE "${WORK_DIR}" "${WORK_DIR}/*")
list(SORT written)
set(expected "${first}" "${chinese}")
list(SORT expected)
if(NOT written STREQUAL expected)
    message(FATAL_ERROR "wrote ${written}, not ${expected}")
endif()

set(manifest "${WORK_DIR}.md5")
set(lines "")
foreach(name IN LISTS expected)
    file(MD5 "${PROGRAM_DIR}/${name}" digest)
    string(APPEND lines "${digest}  ${name}\n")
endforeach()
file(WRITE "${manifest}" "${lines}")

function(expect_verify wanted what)
    execute_process(COMMAND "${SYNTH}" --verify "${WORK_DIR}" "${manifest}" RESULT_VARIABLE result
        ERROR_VARIABLE errors)
    if(NOT result EQUAL wanted)
        message(FATAL_ERROR "--verify ${what}: exit ${result}, not ${wanted} (${errors})")
    endif()
endfunction()
expect_verify(0 "of the sounds as written")

# One byte more at the end.
file(APPEND "${WORK_DIR}/${chinese}" "x")
expect_verify(1 "after a change")

file(REMOVE "${WORK_DIR}/${chinese}")
expect_verify(1 "with a file missing")

execute_process(COMMAND "${SYNTH}" "${WORK_DIR}" 2 "Music/no such sound.wav" RESULT_VARIABLE result ERROR_QUIET)
if(NOT result EQUAL 2)
    message(FATAL_ERROR "an unknown name gave exit ${result}, not 2")
endif()
file(REMOVE_RECURSE "${WORK_DIR}" "${manifest}")
