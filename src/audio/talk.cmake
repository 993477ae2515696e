# Two-way audio: the talk object that captures, encodes and sends the microphone, and the
# "Mike" button's logic.
taviro_library(taviro_audio_talk
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/talk.cpp
  DEPS taviro_audio_codec taviro_protocol taviro_platform)
