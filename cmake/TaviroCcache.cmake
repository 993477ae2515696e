# Compiles through ccache when it is installed (TAVIRO_CCACHE=OFF leaves it out). Paths
# below the source folder are hashed relative to it and the build folder's own path is not
# hashed, so a fresh clone of the same commit elsewhere (a CI run, a second worktree) takes
# what an earlier build compiled instead of compiling it again.
option(TAVIRO_CCACHE "Compile through ccache when it is installed" ON)
if(TAVIRO_CCACHE)
  find_program(TAVIRO_CCACHE_PROGRAM ccache)
  if(TAVIRO_CCACHE_PROGRAM)
    message(STATUS "Compiling through ${TAVIRO_CCACHE_PROGRAM}")
    set(CMAKE_CXX_COMPILER_LAUNCHER
        ${CMAKE_COMMAND} -E env CCACHE_BASEDIR=${PROJECT_SOURCE_DIR} CCACHE_NOHASHDIR=true
        ${TAVIRO_CCACHE_PROGRAM})
  endif()
endif()
