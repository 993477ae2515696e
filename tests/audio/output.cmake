# Live sound output: the play ring (scripted player), the audio thread and the live pipeline's
# audio (threads), the heard-channel selection and the recorder's audio request (a session on
# a socket pair), the WAV files, taviro-cli live --audio-out against the simulator, and a real
# sound device (label "sound": needs a PulseAudio server with a null sink).
taviro_test(sound_ring_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/sound_ring_test.cpp
  LIBS taviro_audio_output)

taviro_test(audio_thread_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_thread_test.cpp
  LIBS taviro_audio_output taviro_video_live
  LABELS tsan
  TIMEOUT 120)

taviro_test(audio_control_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_control_test.cpp
  LIBS taviro_audio_output
  LABELS tsan
  TIMEOUT 120)

taviro_test(wav_file_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/wav_file_test.cpp
  LIBS taviro_platform)

taviro_test(audio_cli_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/audio_cli_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/run_program.cpp
  LIBS taviro_sim taviro_platform
  LABELS tsan
  TIMEOUT 300)
add_dependencies(audio_cli_test taviro-cli)

# The real device: a QCoreApplication main, label "sound" (not "headless"). It needs a
# PulseAudio server with a null sink as the default sink and parec; it skips without one.
if(TAVIRO_BUILD_GUI AND TARGET taviro_platform_qt_audio)
  add_executable(sound_output_test ${CMAKE_CURRENT_LIST_DIR}/sound_output_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/support/run_program.cpp)
  target_link_libraries(sound_output_test PRIVATE taviro_platform_qt_audio taviro_audio_output
    taviro_video_live taviro_sim GTest::gtest Threads::Threads)
  target_include_directories(sound_output_test PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  taviro_warnings(sound_output_test)
  add_test(NAME sound_output_test COMMAND sound_output_test)
  set_tests_properties(sound_output_test PROPERTIES LABELS "sound" TIMEOUT 120)
endif()
