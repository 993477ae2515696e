# The decoder adapter: parameter sets in front of key frames, then the H.264 decoder library.
taviro_library(taviro_video_decode
  SOURCES param_sets.cpp
  DEPS taviro_protocol taviro_platform_h264)
