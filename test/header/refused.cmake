# A compile that must fail, saying why: runs COMMAND (a ;-list), and passes
# when it fails with WANT in its diagnostics and nothing matching AVOID.
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE Rc OUTPUT_VARIABLE Out ERROR_VARIABLE Out)
if(Rc EQUAL 0)
  message(FATAL_ERROR "compiled, but must not:\n${Out}")
endif()
if(NOT Out MATCHES "${WANT}")
  message(FATAL_ERROR "failed without saying \"${WANT}\":\n${Out}")
endif()
if(AVOID AND Out MATCHES "${AVOID}")
  message(FATAL_ERROR "more than the one diagnostic:\n${Out}")
endif()
message(STATUS "refused as it should be")
