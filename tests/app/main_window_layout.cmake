# Included from tests/app/CMakeLists.txt: the main window's control table and tool-tips.
taviro_test(main_window_layout_test
  SOURCES main_window_layout_test.cpp
  LIBS taviro_main_window_layout
  TIMEOUT 60)
