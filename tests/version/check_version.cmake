# cmake -DPROGRAM=... -DNAME=... -DVERSION=... [-DLAUNCHER=...] -P check_version.cmake
# Runs `PROGRAM --version` (through LAUNCHER, wine for a Windows program) and
# passes when it exits 0 and prints exactly "NAME VERSION" and a line end,
# with nothing on standard error.
execute_process(COMMAND ${LAUNCHER} ${PROGRAM} --version
                RESULT_VARIABLE status
                OUTPUT_VARIABLE out
                ERROR_VARIABLE err
                TIMEOUT 60)
string(REGEX REPLACE "\r\n$" "\n" out "${out}")
if(NOT status STREQUAL "0" OR NOT out STREQUAL "${NAME} ${VERSION}\n"
   OR NOT err STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --version: exit ${status}\n"
                      "stdout: [${out}]\nstderr: [${err}]\n"
                      "expected: [${NAME} ${VERSION}]")
endif()
