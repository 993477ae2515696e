# The simulated recorder's H.264 encoder and camera test pattern.
taviro_library(taviro_sim_h264
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/h264_bit_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/h264_stream_writer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/h264_test_pattern.cpp
  DEPS taviro_protocol)
target_include_directories(taviro_sim_h264 PUBLIC ${PROJECT_SOURCE_DIR})
