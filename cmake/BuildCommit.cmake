# Writes BuildCommit.h with the short id of the source revision; touches it only on change.
execute_process(COMMAND git -C "${SOURCE_DIR}" rev-parse --short=7 HEAD
  OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR commit STREQUAL "")
  set(commit "unknown")
endif()
set(text "#pragma once\n#define OSTREL_BUILD_COMMIT \"${commit}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT "${old}" STREQUAL "${text}")
  file(WRITE "${OUTPUT}" "${text}")
endif()
