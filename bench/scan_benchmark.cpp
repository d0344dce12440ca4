// The scanner core per input class and SIMD level, over two blocks of the tool's
// own size held in memory. The tool scans each block straight after reading it,
// while it is still in the processor's cache, and so does this benchmark.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <span>

#include "input_classes.hpp"
#include "memory_scan.hpp"
#include "scanner.hpp"
#include "simd_levels.hpp"

namespace {

using namespace fwtally;

constexpr std::size_t image_size = 2 * default_block_capacity;

void scan_input_class(benchmark::State& state, bench::input_class kind, simd_level level) {
    if (!simd_level_supported(level)) {
        state.SkipWithError("SIMD level not supported on this processor");
        return;
    }
    const std::string image = bench::make_input(kind, image_size);
    const auto bytes = std::span(reinterpret_cast<const unsigned char*>(image.data()), image.size());
    for (auto _ : state) {
        report_writer writer{stdout};  // the inputs hold no marker, so nothing is written
        benchmark::DoNotOptimize(
            testing::scan_in_memory(bytes, default_block_capacity, level, writer));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}

const bool registered = [] {
    for (const bench::input_class kind : bench::all_input_classes) {
        for (const simd_level level : testing::all_simd_levels) {
            const std::string name = "scan/" + std::string(bench::input_class_name(kind)) + "/" +
                                     testing::simd_level_name(level);
            benchmark::RegisterBenchmark(name.c_str(), scan_input_class, kind, level);
        }
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
