# The desktop client's windows: Qt 6 Widgets, OpenGL and Print Support. Everything below
# src/<subsystem>/ui/ and skin/ needs Qt; the core libraries never do, so a build with
# TAVIRO_BUILD_GUI=OFF (the fuzz build) still has every headless target.
option(TAVIRO_BUILD_GUI "Build the desktop client, the skin pack and the window tests (Qt 6)" ON)

if(TAVIRO_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets OpenGL OpenGLWidgets PrintSupport Multimedia DBus
    Test)
endif()

# taviro_qt_library(NAME SOURCES ... HEADERS ... DEPS ...): a static library of windows, with
# moc, and its own include root like taviro_library.
function(taviro_qt_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;HEADERS;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES} ${ARG_HEADERS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  taviro_include_root(${name} ${ARG_HEADERS})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Qt6::Widgets)
  taviro_warnings(${name})
endfunction()
