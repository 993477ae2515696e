# The decoder adapter's parameter sets.
taviro_test(param_sets_test
  SOURCES param_sets_test.cpp
  LIBS taviro_video_decode
  TIMEOUT 60)
