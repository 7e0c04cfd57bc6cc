# cmake -DIN=... -DOUT=... [-DVERSION=... -DDATE=...] -P gzip_file.cmake
# Writes IN to OUT compressed as Debian wants it (gzip -9n: best
# compression, no name or time inside, so the same input gives the same
# bytes). With VERSION, IN is a man page whose .TH line gets the build's
# version and DATE as its footer.
file(READ ${IN} text)
if(DEFINED VERSION)
  string(REGEX REPLACE
    "\n\\.TH ([^ ]+) ([0-9]+) \"[^\"]*\" \"hj5-xml-update [^\"]*\""
    "\n.TH \\1 \\2 \"${DATE}\" \"hj5-xml-update ${VERSION}\"" text "\n${text}")
  string(SUBSTRING "${text}" 1 -1 text)
  if(NOT text MATCHES "\"hj5-xml-update ${VERSION}\"")
    message(FATAL_ERROR "${IN}: no .TH line with \"hj5-xml-update VERSION\"")
  endif()
endif()
set(plain ${OUT}.plain)
file(WRITE ${plain} "${text}")
execute_process(COMMAND gzip -9n -c ${plain} OUTPUT_FILE ${OUT}
                RESULT_VARIABLE status)
file(REMOVE ${plain})
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip ${IN}: ${status}")
endif()
