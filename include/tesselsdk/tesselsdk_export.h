/* Export macro and version of TesselSDK. */
#ifndef TESSELSDK_EXPORT_H
#define TESSELSDK_EXPORT_H

#define TESSELSDK_VERSION_MAJOR 1
#define TESSELSDK_VERSION_MINOR 0
#define TESSELSDK_VERSION_PATCH 0
#define TESSELSDK_VERSION_BUILD 1
#define TESSELSDK_VERSION_STRING "1.0.0.1"

#if defined(_WIN32)
#  if defined(TESSELSDK_BUILDING)
#    define TESSELSDK_API __declspec(dllexport)
#  elif defined(TESSELSDK_STATIC)
#    define TESSELSDK_API
#  else
#    define TESSELSDK_API __declspec(dllimport)
#  endif
#else
#  define TESSELSDK_API __attribute__((visibility("default")))
#endif

#endif
