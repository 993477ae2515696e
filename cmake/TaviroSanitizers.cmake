if(TAVIRO_SANITIZE)
  message(STATUS "Sanitizers: ${TAVIRO_SANITIZE}")
  # Line tables are all a sanitizer report needs for its file:line stacks, and they
  # compile much faster than full debug information.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    set(TAVIRO_SANITIZE_DEBUG -gline-tables-only)
  else()
    set(TAVIRO_SANITIZE_DEBUG -g1)
  endif()
  add_compile_options(-fsanitize=${TAVIRO_SANITIZE} -fno-omit-frame-pointer
                      ${TAVIRO_SANITIZE_DEBUG})
  add_link_options(-fsanitize=${TAVIRO_SANITIZE})
  if(TAVIRO_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
