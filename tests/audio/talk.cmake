# Two-way audio: the talk object and the "Mike" button against a scripted recorder (threads:
# capture, sender, receive thread), and taviro-cli talk end to end against the simulator.
taviro_test(talk_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/talk_test.cpp
  LIBS taviro_audio_talk
  LABELS tsan
  TIMEOUT 120)

taviro_test(talk_cli_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/talk_cli_test.cpp ${PROJECT_SOURCE_DIR}/tests/support/run_program.cpp
  LIBS taviro_sim
  LABELS tsan
  TIMEOUT 300)
add_dependencies(talk_cli_test taviro-cli)
