# Lesson browser: the request protocol.
target_sources(mirvo_client_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/request.cpp)
mirvo_add_test(request_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/request_test.cpp LIBS mirvo_client_core)
include(${CMAKE_CURRENT_LIST_DIR}/lessons_core.cmake)
