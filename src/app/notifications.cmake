# The notification popups as data: lines, buttons and follow-ups per (category, code), and
# the gate that lets one popup through at a time.
taviro_library(taviro_notifications
  SOURCES notifications.cpp
  DEPS taviro_platform)
