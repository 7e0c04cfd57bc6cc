# Read by cpack when it runs (CPACK_PROJECT_CONFIG_FILE): the archives'
# times are SOURCE_DATE_EPOCH, taken from the last commit of the source
# tree unless it is set already, so that the same commit gives the same
# package bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(
    COMMAND git -C ${CPACK_HJ5_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND epoch MATCHES "^[0-9]+$")
    set(ENV{SOURCE_DATE_EPOCH} ${epoch})
  else()
    message(WARNING "cpack: no commit to take SOURCE_DATE_EPOCH from; the "
                    "package's times are today's")
  endif()
endif()
