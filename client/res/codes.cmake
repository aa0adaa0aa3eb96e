# The digit code with its ten tables, the command-line coder, and the coded
# deployment constants the build writes with it. The coder cannot link the
# core (the core holds its output), so the code itself is a library of its own.
add_library(mirvo_digit_code STATIC
  ${CMAKE_CURRENT_LIST_DIR}/../login/digit_code.cpp
  ${CMAKE_CURRENT_LIST_DIR}/code_tables.cpp)
target_include_directories(mirvo_digit_code PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(mirvo_digit_code PUBLIC mirvo_common)

add_executable(mirvo-digit ${CMAKE_CURRENT_LIST_DIR}/../login/mirvo_digit.cpp)
target_link_libraries(mirvo-digit PRIVATE mirvo_digit_code)

# Coded afresh whenever the coder or a configured value changes.
set(MIRVO_CODED_CONSTANTS ${CMAKE_CURRENT_BINARY_DIR}/coded_constants.cpp)
add_custom_command(
  OUTPUT ${MIRVO_CODED_CONSTANTS}
  COMMAND mirvo-digit resources ${MIRVO_CODED_CONSTANTS}
          "237,238,239=${MIRVO_SERVER_1}"
          "240,241,242=${MIRVO_SERVER_2}"
          "243,244,245=${MIRVO_SERVER_3}"
          "252=${MIRVO_PROFILE_KEY}"
          "254,255,256=${MIRVO_REQUEST_PAGE}"
          "259=${MIRVO_PASSWORD_DOC}"
  DEPENDS mirvo-digit
  COMMENT "Digit-coding the deployment constants"
  VERBATIM)
target_sources(mirvo_client_core PRIVATE ${MIRVO_CODED_CONSTANTS} ${CMAKE_CURRENT_LIST_DIR}/coded_resources.cpp)
target_link_libraries(mirvo_client_core PUBLIC mirvo_digit_code)

mirvo_add_test(digit_code_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/../login/digit_code_test.cpp
               LIBS mirvo_digit_code)
mirvo_add_fuzzer(digit_decode_fuzz
  ${CMAKE_CURRENT_LIST_DIR}/../login/digit_decode_fuzz.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../login/digit_code.cpp
  ${CMAKE_CURRENT_LIST_DIR}/code_tables.cpp
  ${PROJECT_SOURCE_DIR}/common/xmltext/xmltext.cpp
  ${PROJECT_SOURCE_DIR}/common/text/gbk.cpp
  ${PROJECT_SOURCE_DIR}/common/fs/paths.cpp
  ${PROJECT_SOURCE_DIR}/common/ui/status.cpp)
if(MIRVO_FUZZ)
  target_include_directories(digit_decode_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
endif()
