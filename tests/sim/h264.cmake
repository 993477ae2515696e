# The simulated recorder's H.264 encoder, checked by decoding its output with libavcodec.
# The pkg-config prefix is our own: a second FFMPEG lookup elsewhere in the tree would
# otherwise overwrite (or be overwritten by) the link list of a shared PkgConfig::FFMPEG.
find_package(PkgConfig REQUIRED)
pkg_check_modules(SIM_H264_FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil)

set(_sim_h264_test_sources
  ${CMAKE_CURRENT_LIST_DIR}/h264_bit_writer_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_pattern_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/h264_stream_test.cpp)

taviro_test(sim_h264_test
  SOURCES ${_sim_h264_test_sources}
  LIBS taviro_sim_h264 PkgConfig::SIM_H264_FFMPEG)
# libavcodec's headers are not ours to keep warning-free.
target_include_directories(sim_h264_test SYSTEM PRIVATE ${SIM_H264_FFMPEG_INCLUDE_DIRS})

# The same stream tests once more with the client's own parameter-set writer in front of
# the key frames instead of the tests' copy, when that writer is part of the tree.
if(TARGET taviro_video_decode)
  taviro_test(sim_h264_client_param_sets_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/h264_stream_test.cpp
    LIBS taviro_sim_h264 taviro_video_decode PkgConfig::SIM_H264_FFMPEG)
  target_compile_definitions(sim_h264_client_param_sets_test
    PRIVATE TAVIRO_SIM_H264_CLIENT_PARAM_SETS=1)
  target_include_directories(sim_h264_client_param_sets_test SYSTEM PRIVATE
    ${SIM_H264_FFMPEG_INCLUDE_DIRS})
endif()
