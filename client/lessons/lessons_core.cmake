# Lesson browser: the catalogue and the playback logic of the lesson window.
target_sources(mirvo_client_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/catalogue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/playback.cpp)
pkg_check_modules(HTTPLIB IMPORTED_TARGET cpp-httplib)
mirvo_add_test(playback_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/catalogue_test.cpp ${CMAKE_CURRENT_LIST_DIR}/playback_test.cpp
  LIBS mirvo_client_core PkgConfig::HTTPLIB)
