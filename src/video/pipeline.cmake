# The channel views the decoder threads fill, and the decoder threads themselves.
taviro_library(taviro_video_pipeline
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/channel_views.cpp
    ${CMAKE_CURRENT_LIST_DIR}/decode_thread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/channel_decoders.cpp
  DEPS taviro_video taviro_video_decode taviro_platform)
