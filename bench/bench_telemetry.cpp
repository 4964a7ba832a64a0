// Cost of SendTallo on the host's thread: one record built and queued.
#include <benchmark/benchmark.h>

#include "tesselsdk/link_logic.h"

namespace {

void BM_SendTallo(benchmark::State& state) {
    // Nothing listens at the telemetry endpoint of a bench build; the worker's
    // posts fail fast and the bounded queue keeps memory flat.
    TesselSDK::LinkLogic* logic = TesselSDK::LinkLogic::Create("1.0.0", 1, TesselSDK::PlatformInterface());
    for (auto _ : state) {
        logic->SendTallo("linkplay.heartbeat", "12.345", "a short message from the host", "udp");
    }
    state.SetItemsProcessed(state.iterations());
    TesselSDK::LinkLogic::Destroy(logic);
}
BENCHMARK(BM_SendTallo)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
