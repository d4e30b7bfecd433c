// Cost of judging a datagram: a foreign DHCP DISCOVER must be dropped about as fast as a
// bare comparison of the ten template bytes, so that a flood of other clients' traffic costs
// Torvane nothing. Each case stands beside the memcmp baseline of the same run.
#include "BootMessage.h"
#include "BootP.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

std::vector<std::uint8_t> message(bool card)
{
    std::vector<std::uint8_t> m(548, 0);
    m[bootp::kOp] = 1;
    const std::uint8_t mac[] = {0x00, 0x0A, 0x1B, 0xC2, 0x3D, 0xFF};
    std::memcpy(&m[bootp::kChaddr], mac, sizeof mac);
    if (card) {
        std::memcpy(&m[bootp::kOptions], bootp::kCardOptions.data(), bootp::kTemplateSize);
    } else {
        const std::uint8_t discover[] = {99, 130, 83, 99, 53, 1, 1, 255};
        std::memcpy(&m[bootp::kOptions], discover, sizeof discover);
    }
    return m;
}

void BM_Baseline_memcmp10(benchmark::State& state)
{
    const auto m = message(true);
    for (auto _ : state) {
        const std::uint8_t* p = m.data();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(
            std::memcmp(p + bootp::kOptions, bootp::kCardOptions.data(), bootp::kTemplateSize));
    }
}

void BM_chkRequest_foreignDiscover(benchmark::State& state)
{
    const auto m = message(false);
    for (auto _ : state) {
        const std::uint8_t* p = m.data();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(behaviour::chkRequest({p, m.size()}));
    }
}

void BM_chkRequest_cardRequest(benchmark::State& state)
{
    const auto m = message(true);
    for (auto _ : state) {
        const std::uint8_t* p = m.data();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(behaviour::chkRequest({p, m.size()}));
    }
}

void BM_makeReply(benchmark::State& state)
{
    auto m = message(true);
    const behaviour::PublicArea area;
    for (auto _ : state) {
        std::uint8_t* p = m.data();
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(behaviour::makeReply({p, m.size()}, area));
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_Baseline_memcmp10);
BENCHMARK(BM_chkRequest_foreignDiscover);
BENCHMARK(BM_chkRequest_cardRequest);
BENCHMARK(BM_makeReply);
BENCHMARK_MAIN();
