# Writes a program's manual page from its own --help text, so the page never tells other
# options than the program takes. Run with cmake -P and:
#   PROGRAM  the program to ask          NAME     its name on the page
#   SUMMARY  one line for NAME's section VERSION  the project's version
#   SEE_ALSO the other pages, "a(1), b(1)" OUTPUT   the gzip -9n compressed page to write
#   DESCRIPTION  (optional) a paragraph before the help text
foreach(var PROGRAM NAME SUMMARY VERSION OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "TaviroManPage.cmake: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
  message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()

# roff: a backslash is \e, an option's dash a minus sign \-; a line starting with '.' or '\'' would be read as a request.
string(REPLACE "\\" "\\e" help "${help}")
string(REPLACE "-" "\\-" help "${help}")
string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
string(REPLACE "-" "\\-" summary "${SUMMARY}")
string(TOUPPER "${NAME}" title)
set(description "")
if(DEFINED DESCRIPTION AND NOT DESCRIPTION STREQUAL "")
  string(REPLACE "-" "\\-" description "${DESCRIPTION}")
  string(APPEND description "\n.PP\n")
endif()

set(page ".TH ${title} 1 \"\" \"taviro ${VERSION}\" \"User Commands\"
.SH NAME
${NAME} \\- ${summary}
.SH DESCRIPTION
${description}The program's own help (\\fB${NAME} \\-\\-help\\fR):
.PP
.nf
${help}.fi
")
if(DEFINED SEE_ALSO AND NOT SEE_ALSO STREQUAL "")
  string(APPEND page ".SH SEE ALSO\n${SEE_ALSO}\n")
endif()

get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
string(REGEX REPLACE "\\.gz$" "" plain "${OUTPUT}")
file(WRITE "${plain}" "${page}")
find_program(GZIP gzip REQUIRED)
execute_process(COMMAND ${GZIP} -9n -c "${plain}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip of ${plain} failed (${status})")
endif()
