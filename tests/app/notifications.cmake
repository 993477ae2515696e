taviro_test(app_notifications_test
  SOURCES notifications_test.cpp
  LIBS taviro_notifications
  TIMEOUT 60)
