# Runs a resource generator twice and checks that it succeeds, that its
# --check reader accepts the file, and that both runs wrote the same bytes
# (a build must not depend on the time or on chance).
foreach(run 1 2)
  execute_process(COMMAND ${PYTHON} ${SCRIPT} ${OUT}.${run} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${SCRIPT} failed: ${rc}")
  endif()
endforeach()
execute_process(COMMAND ${PYTHON} ${SCRIPT} --check ${OUT}.1 RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SCRIPT} --check rejected its own output")
endif()
file(SHA256 ${OUT}.1 first)
file(SHA256 ${OUT}.2 second)
if(NOT first STREQUAL second)
  message(FATAL_ERROR "${SCRIPT} wrote different bytes on two runs")
endif()
