# The message windows.
target_sources(mirvo_qt PRIVATE
  ${CMAKE_SOURCE_DIR}/client/forms/message_form.cpp
  ${CMAKE_SOURCE_DIR}/client/forms/message_form.h
  ${CMAKE_SOURCE_DIR}/client/res/message_form.ui)
