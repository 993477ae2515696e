#Included from src / app / CMakeLists.txt : the main window's control table and tool-tip rule,
#headless so that the skin generator and the tests use it without a window.
taviro_library(taviro_main_window_layout SOURCES main_window_layout.cpp DEPS taviro_platform)
