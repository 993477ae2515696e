# Stream records, the receive-side stream path and the consumer queues.
taviro_test(stream_test
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/stream_records_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_frames_test.cpp
  LIBS taviro_video)
taviro_test(stream_queue_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stream_queue_test.cpp
  LIBS taviro_video
  LABELS tsan)
# Replaces the global operator new; kept apart so no other test runs under it.
taviro_test(stream_alloc_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/stream_alloc_test.cpp
  LIBS taviro_video)
