# The Qt pieces of the application shell besides the main window: the settings store over
# QSettings, the notification popup and its presenter, the local setup dialog.
taviro_qt_library(taviro_app_ui
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/qsettings_store.cpp ${CMAKE_CURRENT_LIST_DIR}/notify_popup.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local_setup_dlg.cpp
  DEPS taviro_app_core taviro_notifications taviro_connect_ui taviro_controls_ui
    taviro_platform_ui)
