# The lesson window. Its logic is in the core (lessons_core.cmake); the
# program hands it the real movie player, the test a fake one.
target_sources(mirvo_qt PRIVATE
  ${CMAKE_SOURCE_DIR}/client/lessons/lesson_form.cpp
  ${CMAKE_SOURCE_DIR}/client/lessons/lesson_form.h
  ${CMAKE_SOURCE_DIR}/client/res/lesson_form.ui)

pkg_check_modules(HTTPLIB IMPORTED_TARGET cpp-httplib)
mirvo_add_qt_test(lesson_form_test
  SOURCES ${CMAKE_SOURCE_DIR}/client/lessons/lesson_form_test.cpp
  LIBS mirvo_qt PkgConfig::HTTPLIB)
