/* A minimal host of the flat C interface. */
#include <stdio.h>

#include "tesselsdk/tesselsdk.h"

int main(void) {
    TesselSDKHandle* handle = TesselSDK_Create("1.0.0", 1);
    TesselSDK_InitLogger();
    TesselSDK_Log(NULL, TESSELSDK_LOG_INFO, "example host started");
    TesselSDK_Destroy(handle);
    printf("created, logged and destroyed a handle\n");
    return 0;
}
