# The export list of the built library: exactly the flat interface and the
# LinkLogic class; on Windows also the imported DLLs and the version resource.
# On Linux also the reporter's static library: its functions carry the prefix.
if(WIN32)
  find_program(TESSELSDK_OBJDUMP NAMES x86_64-w64-mingw32-objdump REQUIRED)
  set(exports_args --platform windows --tool ${TESSELSDK_OBJDUMP} --version ${PROJECT_VERSION})
else()
  find_program(TESSELSDK_NM NAMES nm REQUIRED)
  set(exports_args --platform linux --tool ${TESSELSDK_NM})
endif()
add_test(NAME exports
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.py ${exports_args}
          --library $<TARGET_FILE:tesselsdk>)
if(NOT WIN32)
  add_test(NAME reporter_prefix
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.py --platform linux --tool ${TESSELSDK_NM}
            --archive $<TARGET_FILE:sentry>)
endif()
