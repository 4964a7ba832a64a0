# The installed package is consumable by an outside CMake project.
if(NOT TESSELSDK_SANITIZE)
  set(install_emulator "")
  set(install_toolchain "")
  if(CMAKE_CROSSCOMPILING)
    set(install_emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
    set(install_toolchain ${CMAKE_TOOLCHAIN_FILE})
  endif()
  add_test(NAME install_package
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
            -DTOOLCHAIN=${install_toolchain} -DEMULATOR=${install_emulator}
            -P ${CMAKE_SOURCE_DIR}/tests/install/check_install.cmake)
  set_tests_properties(install_package PROPERTIES ENVIRONMENT "${TESSELSDK_TEST_ENV}" TIMEOUT 600)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set_tests_properties(install_package PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endif()
