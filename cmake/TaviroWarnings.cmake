# Warnings are errors for our own targets only; third-party headers are included as SYSTEM.
function(taviro_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
    -Wimplicit-fallthrough -Werror)
endfunction()

# taviro_include_root(TARGET HEADERS...): gives the target an include root of its own that
# holds only its own headers, as links under <build>/include/<target>/, at the paths the
# code includes them by ("protocol/session.h" for src/protocol/session.h, "sim/journal.h"
# for sim/journal.h). A target sees its own root and the roots of the targets it links, so
# including a header of a library that is not among its dependencies fails to build. The
# root is made anew at every configure, so a header taken out of a list disappears.
function(taviro_include_root target)
  set(root ${PROJECT_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(header ${ARGN})
    get_filename_component(path ${header} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    if(NOT EXISTS ${path})
      message(FATAL_ERROR "${target}: header ${header} does not exist")
    endif()
    string(FIND ${path} "${PROJECT_SOURCE_DIR}/src/" under_src)
    if(under_src EQUAL 0)
      file(RELATIVE_PATH include_path ${PROJECT_SOURCE_DIR}/src ${path})
    else()
      file(RELATIVE_PATH include_path ${PROJECT_SOURCE_DIR} ${path})
    endif()
    get_filename_component(folder ${root}/${include_path} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${path} ${root}/${include_path} SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# taviro_library(NAME SOURCES ... HEADERS ... DEPS ...): one static library with its own
# include root (see taviro_include_root). Every file is named; nothing is globbed.
function(taviro_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES} ${ARG_HEADERS})
  taviro_include_root(${name} ${ARG_HEADERS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  taviro_warnings(${name})
endfunction()
