# The H.264 decoder library on FFmpeg (libavcodec, libswscale). FFmpeg's headers come in as
# SYSTEM includes, so warnings-as-errors applies to our own code only.
find_package(PkgConfig REQUIRED)
pkg_check_modules(FFMPEG REQUIRED IMPORTED_TARGET GLOBAL libavcodec libavutil libswscale)

taviro_library(taviro_platform_h264
  SOURCES h264_decoder_ffmpeg.cpp
  DEPS taviro_platform)
target_include_directories(taviro_platform_h264 SYSTEM PRIVATE ${FFMPEG_INCLUDE_DIRS})
target_link_libraries(taviro_platform_h264 PRIVATE PkgConfig::FFMPEG)
