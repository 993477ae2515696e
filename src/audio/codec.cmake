# G.726 ADPCM at 24 kbit/s: packing of the 3-bit codes, encoder and decoder.
taviro_library(taviro_audio_codec
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/g726.cpp)
