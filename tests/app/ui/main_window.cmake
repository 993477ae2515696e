# The main window against the simulated recorder.
if(TARGET taviro_main_window)
  taviro_gui_test(main_window_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/main_window_test.cpp
    LIBS taviro_main_window taviro_sim
    TIMEOUT 180)
  target_include_directories(main_window_test PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  add_dependencies(main_window_test taviro_skin)
endif()
