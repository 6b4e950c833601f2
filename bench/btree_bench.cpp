// Cost of the scan's in-memory indexes at the size of a large volume: one
// million keys inserted (random and ascending order, the two shapes the
// catalog readers produce) and looked up again, hits and misses.

#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassUInt32.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdint>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kKeys = 1'000'000;

std::vector<std::uint64_t> randomKeys(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::vector<std::uint64_t> keys(kKeys);
    for (auto& k : keys)
        k = rng();
    return keys;
}

std::vector<std::uint64_t> ascendingKeys() {
    std::vector<std::uint64_t> keys(kKeys);
    std::iota(keys.begin(), keys.end(), std::uint64_t{1} << 20);
    return keys;
}

void insertAll(BTreeTableClassUInt32& tree, const std::vector<std::uint64_t>& keys) {
    for (std::uint64_t k : keys)
        tree.insert(std::make_unique<ItemTypeUInt32>(k));
}

void BM_InsertRandomUInt32(benchmark::State& state) {
    const auto keys = randomKeys(1);
    for (auto _ : state) {
        auto tree = std::make_unique<BTreeTableClassUInt32>();
        insertAll(*tree, keys);
        benchmark::DoNotOptimize(tree->numItems());
        state.PauseTiming();
        tree.reset(); // freeing is measured separately
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_InsertRandomUInt32)->Unit(benchmark::kMillisecond);

void BM_InsertAscendingUInt32(benchmark::State& state) {
    const auto keys = ascendingKeys();
    for (auto _ : state) {
        auto tree = std::make_unique<BTreeTableClassUInt32>();
        insertAll(*tree, keys);
        benchmark::DoNotOptimize(tree->numItems());
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_InsertAscendingUInt32)->Unit(benchmark::kMillisecond);

void BM_FreeRandomUInt32(benchmark::State& state) {
    const auto keys = randomKeys(2);
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = std::make_unique<BTreeTableClassUInt32>();
        insertAll(*tree, keys);
        state.ResumeTiming();
        tree.reset();
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_FreeRandomUInt32)->Unit(benchmark::kMillisecond);

void BM_LookupHitUInt32(benchmark::State& state) {
    auto keys = randomKeys(3);
    BTreeTableClassUInt32 tree;
    insertAll(tree, keys);
    std::shuffle(keys.begin(), keys.end(), std::mt19937_64(4));
    for (auto _ : state) {
        for (std::uint64_t k : keys)
            benchmark::DoNotOptimize(tree.retrieveKeyField(k));
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_LookupHitUInt32)->Unit(benchmark::kMillisecond);

void BM_LookupMissUInt32(benchmark::State& state) {
    BTreeTableClassUInt32 tree;
    insertAll(tree, randomKeys(5));
    const auto probes = randomKeys(6); // 2^-44 chance of any hit
    for (auto _ : state) {
        for (std::uint64_t k : probes)
            benchmark::DoNotOptimize(tree.retrieveKeyField(k));
    }
    state.SetItemsProcessed(state.iterations() * kKeys);
}
BENCHMARK(BM_LookupMissUInt32)->Unit(benchmark::kMillisecond);

void BM_InsertAndLookupNodeIndex(benchmark::State& state) {
    std::vector<std::uint32_t> ids(kKeys);
    std::mt19937 rng(7);
    for (auto& id : ids)
        id = rng();
    for (auto _ : state) {
        BTreeTableClass tree;
        for (std::uint32_t id : ids)
            tree.insert(std::make_unique<ItemType>(id, nullptr));
        for (std::uint32_t id : ids)
            benchmark::DoNotOptimize(tree.retrieveKeyField(id));
    }
    state.SetItemsProcessed(state.iterations() * kKeys * 2);
}
BENCHMARK(BM_InsertAndLookupNodeIndex)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
