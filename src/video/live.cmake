# The live pipeline of one session (stream reassembly, queues, decoders), shared by the
# desktop client and the command-line client.
taviro_library(taviro_video_live
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/live_pipeline.cpp
  DEPS taviro_video_pipeline taviro_protocol taviro_audio_output)
