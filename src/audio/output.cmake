# Live sound output: the audio thread, the play ring, the heard-channel selection and the
# recorder's audio on/off request.
taviro_library(taviro_audio_output
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/audio_thread.cpp
    ${CMAKE_CURRENT_LIST_DIR}/sound_ring.cpp
    ${CMAKE_CURRENT_LIST_DIR}/audio_selection.cpp
    ${CMAKE_CURRENT_LIST_DIR}/audio_onoff.cpp
  DEPS taviro_audio_codec taviro_video taviro_platform taviro_protocol)
