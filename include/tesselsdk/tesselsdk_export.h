/* Export macro and version of TesselSDK. */
#ifndef TESSELSDK_EXPORT_H
#define TESSELSDK_EXPORT_H

#include "tesselsdk_version.h"

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
