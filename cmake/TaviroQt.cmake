# The desktop client's windows: Qt 6 Widgets, OpenGL and Print Support. Everything below
# src/<subsystem>/ui/ and skin/ needs Qt; the core libraries never do, so a build with
# TAVIRO_BUILD_GUI=OFF (the sanitizer and fuzz builds) still has every headless target.
option(TAVIRO_BUILD_GUI "Build the desktop client, the skin pack and the window tests (Qt 6)" ON)

if(TAVIRO_BUILD_GUI)
  find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets OpenGL OpenGLWidgets PrintSupport Multimedia DBus
    Test)
endif()

# taviro_qt_library(NAME SOURCES ... DEPS ...): a static library of windows, with moc.
function(taviro_qt_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Qt6::Widgets)
  taviro_warnings(${name})
endfunction()
