# The login dialog and its steps. The steps hold no Qt and go into the core.
target_sources(mirvo_client_core PRIVATE ${CMAKE_SOURCE_DIR}/client/login/login_steps.cpp)
target_sources(mirvo_qt PRIVATE
  ${CMAKE_SOURCE_DIR}/client/login/login_form.cpp
  ${CMAKE_SOURCE_DIR}/client/login/login_form.h
  ${CMAKE_SOURCE_DIR}/client/res/login_form.ui)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/client/login/login_form.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS MIRVO_REG_URL="${MIRVO_REG_URL}")

mirvo_add_qt_test(login_form_test
  SOURCES ${CMAKE_SOURCE_DIR}/client/login/login_form_test.cpp
  LIBS mirvo_qt mirvo_test_server)
target_compile_definitions(login_form_test PRIVATE MIRVO_TEST_REQUEST_PAGE="${MIRVO_REQUEST_PAGE}")
