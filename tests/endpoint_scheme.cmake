# A build whose built-in metrics endpoint is not HTTPS is refused when it is
# configured.
if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME endpoint_scheme
    COMMAND ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${CMAKE_BINARY_DIR}/endpoint-scheme-check
            -DTESSELSDK_SQM_DEV_URL=http://sqm.example.com -DTESSELSDK_BUILD_TESTS=OFF)
  set_tests_properties(endpoint_scheme PROPERTIES
    PASS_REGULAR_EXPRESSION "TESSELSDK_SQM_DEV_URL must be an https:// URL" TIMEOUT 120)
endif()
