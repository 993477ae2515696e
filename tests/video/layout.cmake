# The channel grid's layout logic.
taviro_test(layout_grid_test
  SOURCES layout_geometry_test.cpp layout_state_test.cpp
  LIBS taviro_video_layout
  TIMEOUT 60)
