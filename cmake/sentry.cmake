# The event reporter: sentry-native 0.8.3, built static from its source release
# without a crash backend (WinHTTP transport in the DLL, libcurl in the .so).
# Our build of it names every public function sentry_halyx_* in place of
# sentry_* (a generated header of renaming macros, force-included into the
# library's sources and included by ours through sentry_halyx.h) and reads
# SENTRY_HALYX_DSN, _DEBUG, _RELEASE and _ENVIRONMENT and writes nothing to the
# host's standard output or error, its debug setting on or off (patches applied
# to the unpacked sources). Defines the target tesselsdk_sentry.
include(FetchContent)

set(TESSELSDK_SENTRY_SHA256 ea3c5fd8be8f9172aa818251ab19037c63e6b4cd2c73b5d124a83ac288933b96)
# The source release is kept in the repository, so a clone builds without a
# network.
set(TESSELSDK_SENTRY_ARCHIVE ${CMAKE_CURRENT_LIST_DIR}/../third_party/sentry-native-0.8.3.tar.gz CACHE STRING
    "sentry-native 0.8.3 source archive (file path or URL; its SHA-256 is checked)")

function(tesselsdk_add_sentry)
  set(SENTRY_BUILD_SHARED_LIBS OFF)
  set(SENTRY_BACKEND none)
  if(WIN32)
    set(SENTRY_TRANSPORT winhttp)
  else()
    set(SENTRY_TRANSPORT curl)
  endif()
  set(SENTRY_TRANSPORT_COMPRESSION OFF)
  set(SENTRY_BUILD_TESTS OFF)
  set(SENTRY_BUILD_EXAMPLES OFF)
  set(SENTRY_ENABLE_INSTALL OFF)
  set(SENTRY_INTEGRATION_QT OFF)
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
  # Its sources rely on the GNU dialect and their own choice of standard.
  unset(CMAKE_C_STANDARD)
  set(CMAKE_C_EXTENSIONS ON)
  FetchContent_Declare(sentry
    URL ${TESSELSDK_SENTRY_ARCHIVE}
    URL_HASH SHA256=${TESSELSDK_SENTRY_SHA256}
    DOWNLOAD_EXTRACT_TIMESTAMP ON
    PATCH_COMMAND ${CMAKE_COMMAND} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/sentry_env_names.cmake
          COMMAND ${CMAKE_COMMAND} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/sentry_quiet_output.cmake)
  FetchContent_GetProperties(sentry)
  if(NOT sentry_POPULATED)
    FetchContent_Populate(sentry)
  endif()

  # Every function sentry_* its headers declare (the public ones and the few
  # internal ones of that form), renamed; names the library defines as macros
  # stay as they are.
  file(GLOB_RECURSE headers ${sentry_SOURCE_DIR}/include/*.h ${sentry_SOURCE_DIR}/src/*.h)
  set(names)
  set(macros)
  foreach(file ${headers})
    file(READ ${file} header)
    string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" "" header "${header}")
    string(REGEX REPLACE "//[^\n]*" "" header "${header}")
    string(REGEX MATCHALL "#[ \t]*define[ \t]+sentry_[a-z0-9_]+" defines "${header}")
    foreach(define ${defines})
      string(REGEX REPLACE ".*[ \t]" "" name "${define}")
      list(APPEND macros ${name})
    endforeach()
    string(REGEX MATCHALL "sentry_[a-z0-9][a-z0-9_]*[ \t\r\n]*\\(" calls "${header}")
    foreach(call ${calls})
      string(REGEX REPLACE "[ \t\r\n(]" "" name "${call}")
      if(NOT name MATCHES "_t$")
        list(APPEND names ${name})
      endif()
    endforeach()
  endforeach()
  if(macros)
    list(REMOVE_ITEM names ${macros})
  endif()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  list(LENGTH names count)
  if(count LESS 100)
    message(FATAL_ERROR "found only ${count} functions in ${sentry_SOURCE_DIR}/include/sentry.h")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/generated/sentry_halyx)
  set(text "// Generated: the sentry-native functions under the sentry_halyx_ prefix.\n#pragma once\n")
  foreach(name ${names})
    string(REGEX REPLACE "^sentry_" "sentry_halyx_" renamed ${name})
    string(APPEND text "#define ${name} ${renamed}\n")
  endforeach()
  file(CONFIGURE OUTPUT ${dir}/sentry_halyx_names.h CONTENT "${text}")
  file(CONFIGURE OUTPUT ${dir}/sentry_halyx.h CONTENT
       "// Generated: sentry-native's interface under the sentry_halyx_ prefix.\n#pragma once\n#include \"sentry_halyx_names.h\"\n#include <sentry.h>\n")

  add_subdirectory(${sentry_SOURCE_DIR} ${sentry_BINARY_DIR} EXCLUDE_FROM_ALL)
  target_compile_options(sentry PRIVATE -include ${dir}/sentry_halyx_names.h -w)

  add_library(tesselsdk_sentry INTERFACE)
  target_include_directories(tesselsdk_sentry SYSTEM INTERFACE ${dir} ${sentry_SOURCE_DIR}/include)
  target_link_libraries(tesselsdk_sentry INTERFACE sentry)
endfunction()

tesselsdk_add_sentry()
