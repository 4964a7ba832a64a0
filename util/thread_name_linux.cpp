#include "util/thread_name.h"

#include <pthread.h>

#include <cstring>

namespace TesselSDK {

void SetCurrentThreadName(const char* name) {
    if (name == nullptr) return;
    char shortName[16] = {};  // the kernel's limit, its NUL included
    std::strncpy(shortName, name, sizeof(shortName) - 1);
    pthread_setname_np(pthread_self(), shortName);
}

}  // namespace TesselSDK
