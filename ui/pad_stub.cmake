# Pads the linked stub with zero bytes to exactly LIMIT bytes, so the header
# or archive appended to it starts at the offset compiled into the stub.
# Fails when the linked image is already larger.
file(SIZE "${STUB}" size)
message(STATUS "stub size: ${size} of ${LIMIT} bytes")
if(size GREATER LIMIT)
  file(REMOVE "${STUB}")
  message(FATAL_ERROR "The stub is ${size} bytes, larger than its fixed size of ${LIMIT} bytes: "
    "the package header would no longer start where the stub looks for it. Make the code smaller.")
endif()
execute_process(COMMAND truncate -s ${LIMIT} "${STUB}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "Could not pad ${STUB} to ${LIMIT} bytes")
endif()
