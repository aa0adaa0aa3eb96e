# Login subsystem: digit code (with the coded resources), user profile and
# password files.
include(${CMAKE_CURRENT_LIST_DIR}/../res/codes.cmake)

target_sources(mirvo_client_core PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/profile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/password_file.cpp)
mirvo_add_test(profile_test
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/profile_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/password_file_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/../res/coded_resources_test.cpp
  LIBS mirvo_client_core mirvo_test_server)
target_compile_definitions(profile_test PRIVATE
  MIRVO_TEST_SERVER_1="${MIRVO_SERVER_1}"
  MIRVO_TEST_SERVER_2="${MIRVO_SERVER_2}"
  MIRVO_TEST_SERVER_3="${MIRVO_SERVER_3}"
  MIRVO_TEST_REQUEST_PAGE="${MIRVO_REQUEST_PAGE}"
  MIRVO_TEST_PROFILE_KEY="${MIRVO_PROFILE_KEY}"
  MIRVO_TEST_PASSWORD_DOC="${MIRVO_PASSWORD_DOC}")
