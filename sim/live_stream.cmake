# The simulated recorder's live stream elements (video frames around the H.264 writer's
# access units, audio blocks) and their LIVE_DATA messages.
taviro_library(taviro_sim_live
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/live_stream.cpp
  DEPS taviro_sim_h264 taviro_protocol)
target_include_directories(taviro_sim_live PUBLIC ${PROJECT_SOURCE_DIR})
