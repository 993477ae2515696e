# The channel grid's layouts, paging, pane arrangement and full-screen placement, headless.
taviro_library(taviro_video_layout
  SOURCES layouts.cpp
  DEPS taviro_protocol taviro_platform)
