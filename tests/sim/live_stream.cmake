# The simulated recorder's live stream elements: layout, messages, pacing, and the H.264
# inside decoded back by libavcodec. The pkg-config prefix is our own, as for the H.264
# writer's tests.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SIM_LIVE_FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil)

taviro_test(sim_live_stream_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/live_stream_test.cpp
  LIBS taviro_sim_live PkgConfig::SIM_LIVE_FFMPEG)
# libavcodec's headers are not ours to keep warning-free.
target_include_directories(sim_live_stream_test SYSTEM PRIVATE ${SIM_LIVE_FFMPEG_INCLUDE_DIRS})

# The client's own receive side, fed with the simulator's messages, when it is in the tree.
if(TARGET taviro_video)
  target_link_libraries(sim_live_stream_test PRIVATE taviro_video)
  target_compile_definitions(sim_live_stream_test PRIVATE TAVIRO_SIM_LIVE_CLIENT_RECEIVER=1)
endif()
