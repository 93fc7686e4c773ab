# Fails when a checked-in page differs from what PROGRAM prints now.
# Regenerate: PROGRAM > PAGE
execute_process(COMMAND ${PROGRAM} OUTPUT_VARIABLE generated RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} failed: ${status}")
endif()
file(READ ${SOURCE_DIR}/${PAGE} checked_in)
if(NOT generated STREQUAL checked_in)
  message(FATAL_ERROR "${PAGE} differs from what ${PROGRAM} prints; regenerate it")
endif()
