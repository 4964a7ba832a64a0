#include <stdio.h>
#include <tesselsdk/tesselsdk.h>

int main(void) {
    TesselSDKHandle* h = TesselSDK_Create("consumer", 1);
    int min = -1, max = -1, fps = -1;
    int found = TesselSDK_GetBitrateConfig(h, "AUTO", &min, &max, &fps);
    TesselSDK_Destroy(h);
    printf("consumer_c ok %d\n", found);
    return found == 0 && min == -1 ? 0 : 1;
}
