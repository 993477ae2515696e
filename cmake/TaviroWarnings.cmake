# Warnings are errors for our own targets only; third-party headers are included as SYSTEM.
function(taviro_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
    -Wimplicit-fallthrough -Werror)
endfunction()

# One library per subsystem: taviro_library(NAME SOURCES... DEPS ...)
function(taviro_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  taviro_warnings(${name})
endfunction()
