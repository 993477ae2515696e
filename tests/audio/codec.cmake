# The G.726 codec: the public test sequences (read at run time from ../shared/g726-vectors),
# packing, FFmpeg's G.726 coder as a second opinion and a tone round trip.
taviro_test(g726_conformance_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/g726_conformance_test.cpp
  LIBS taviro_audio_codec
  TIMEOUT 120)

# FFmpeg's G.726 coder as a peer. The pkg-config prefix is our own, as elsewhere in the tree.
find_package(PkgConfig REQUIRED)
pkg_check_modules(AUDIO_G726_FFMPEG REQUIRED IMPORTED_TARGET libavcodec libavutil)
taviro_test(g726_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/g726_test.cpp
  LIBS taviro_audio_codec PkgConfig::AUDIO_G726_FFMPEG
  TIMEOUT 120)
# libavcodec's headers are not ours to keep warning-free.
target_include_directories(g726_test SYSTEM PRIVATE ${AUDIO_G726_FFMPEG_INCLUDE_DIRS})
