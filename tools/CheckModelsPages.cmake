# Fails when a checked-in reference page of the instrument models differs
# from what `quorvex models --markdown` / `--man` generates now.
# Regenerate: quorvex models --markdown > docs/models.md
#             quorvex models --man > man/quorvex-instruments.7
foreach(pair "--markdown;docs/models.md" "--man;man/quorvex-instruments.7")
  list(GET pair 0 flag)
  list(GET pair 1 page)
  execute_process(COMMAND ${QUORVEX} models ${flag} OUTPUT_VARIABLE generated RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "quorvex models ${flag} failed: ${status}")
  endif()
  file(READ ${SOURCE_DIR}/${page} checked_in)
  if(NOT generated STREQUAL checked_in)
    message(FATAL_ERROR "${page} differs from `quorvex models ${flag}`; regenerate it")
  endif()
endforeach()
