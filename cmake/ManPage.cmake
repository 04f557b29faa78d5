# Makes pyx-video(1) from the program's --help with help2man, compressed as Debian ships man pages.
#   cmake -DPROGRAM=... -DHELP2MAN=... -DVERSION=... -DOUTPUT=....1.gz -P ManPage.cmake
# The help is read without a display, so asking for it can never start a recording.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY ${PROGRAM} --help
  OUTPUT_VARIABLE help ERROR_VARIABLE errors RESULT_VARIABLE status TIMEOUT 20)
if(NOT status EQUAL 0 OR NOT help MATCHES "--pid")
  message(FATAL_ERROR "${PROGRAM} --help printed no usage (exit status ${status}); the man page is made from "
                      "it.\n${help}${errors}")
endif()
string(REGEX REPLACE "\\.gz$" "" page "${OUTPUT}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY
          ${HELP2MAN} --no-info --version-string=${VERSION} --section=1
          "--name=record an application's window and sound for crash reports" --output=${page} ${PROGRAM}
  RESULT_VARIABLE status ERROR_VARIABLE errors TIMEOUT 60)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${PROGRAM}: ${errors}")
endif()
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed on ${page}")
endif()
