# The H.264 decoder library, fed hand-written I_PCM streams (exact pixels) and, where
# libavcodec has an H.264 encoder (libx264), encoded pictures (within a tolerance). The
# streams start with the adapter's own parameter sets, so taviro_video_decode is linked too.
if(TARGET taviro_platform_h264 AND TARGET taviro_video_decode)
  taviro_test(h264_decoder_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/h264_decoder_test.cpp
    LIBS taviro_platform_h264 taviro_video_decode PkgConfig::FFMPEG
    LABELS tsan
    TIMEOUT 300)
  target_include_directories(h264_decoder_test SYSTEM PRIVATE ${FFMPEG_INCLUDE_DIRS})
endif()
