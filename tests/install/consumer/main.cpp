#include <cstdio>
#include <tesselsdk/link_logic.h>

int main() {
    TesselSDK::PlatformInterface platform;
    TesselSDK::LinkLogic* logic = TesselSDK::LinkLogic::Create("consumer", 1, platform);
    int min = 0, max = 0, fps = 0;
    bool found = logic->GetBitrateConfig("AUTO", &min, &max, &fps);
    TesselSDK::LinkLogic::Destroy(logic);
    std::printf("consumer_cpp ok %d\n", found ? 1 : 0);
    return found ? 1 : 0;
}
