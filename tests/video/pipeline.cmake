# The decoder thread's loop against a scripted decoder library.
taviro_test(decode_thread_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/decode_thread_test.cpp
  LIBS taviro_video_pipeline
  LABELS tsan
  TIMEOUT 120)
