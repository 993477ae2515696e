# The decoder thread's loop against a scripted decoder library.
taviro_test(decode_thread_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decode_thread_test.cpp
  LIBS taviro_video_pipeline
  LABELS tsan
  TIMEOUT 120)

# The decoder thread with the real decoder library on the simulator's H.264 stream.
if(TARGET taviro_sim_h264)
  taviro_test(pipeline_decode_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/pipeline_decode_test.cpp
    LIBS taviro_video_pipeline taviro_sim_h264
    LABELS tsan
    TIMEOUT 120)
endif()

taviro_test(channel_decoders_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/channel_decoders_test.cpp
  LIBS taviro_video_pipeline
  LABELS tsan
  TIMEOUT 120)
