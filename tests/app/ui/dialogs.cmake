# Window tests of the settings store, the notification popup and the local setup dialog.
taviro_gui_test(app_dialogs_ui_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/qsettings_store_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/notify_popup_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/local_setup_dlg_test.cpp
  LIBS taviro_app_ui)
if(TARGET taviro_skin)
  add_dependencies(app_dialogs_ui_test taviro_skin)
endif()
