# The installed tree is consumable by outside hosts (tests/install/check_install.cmake).
if(NOT TESSELSDK_SANITIZE)
  set(install_args -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                   -DSTANDIN=$<TARGET_FILE:ombrel>)
  if(CMAKE_CROSSCOMPILING)
    find_program(TESSELSDK_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
    find_program(TESSELSDK_CLANG NAMES clang clang-14 REQUIRED)
    find_program(TESSELSDK_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
    list(APPEND install_args -DTOOLCHAIN=${CMAKE_TOOLCHAIN_FILE} -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
         -DOBJDUMP=${TESSELSDK_OBJDUMP} -DCLANG=${TESSELSDK_CLANG} -DLLD_LINK=${TESSELSDK_LLD_LINK}
         -DLLVM_DLLTOOL=${TESSELSDK_LLVM_DLLTOOL})
  else()
    find_program(TESSELSDK_PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
    list(APPEND install_args -DPKG_CONFIG=${TESSELSDK_PKG_CONFIG} -DC_COMPILER=${CMAKE_C_COMPILER})
  endif()
  add_test(NAME install_package
    COMMAND ${CMAKE_COMMAND} ${install_args} -P ${CMAKE_SOURCE_DIR}/tests/install/check_install.cmake)
  set_tests_properties(install_package PROPERTIES ENVIRONMENT "${TESSELSDK_TEST_ENV}" TIMEOUT 600)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set_tests_properties(install_package PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endif()
