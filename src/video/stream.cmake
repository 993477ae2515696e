# Stream records, queued frames, consumer queues and the receive-side stream path.
taviro_library(taviro_video
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/stream_records.cpp
    ${CMAKE_CURRENT_LIST_DIR}/queued_frame.cpp
    ${CMAKE_CURRENT_LIST_DIR}/consumer_slots.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_state.cpp
    ${CMAKE_CURRENT_LIST_DIR}/stream_frames.cpp
  DEPS taviro_protocol)
