// The scanner core per input class and SIMD level, over two blocks of the tool's
// own size held in memory. The tool scans each block straight after reading it,
// while it is still in the processor's cache, and so does this benchmark.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <span>

#include "input_classes.hpp"
#include "scanner.hpp"
#include "simd_levels.hpp"

namespace {

using namespace fwtally;

constexpr std::size_t image_size = 2 * default_block_capacity;

void scan_in_memory(benchmark::State& state, bench::input_class kind, simd_level level) {
    if (!simd_level_supported(level)) {
        state.SkipWithError("SIMD level not supported on this processor");
        return;
    }
    const std::string image = bench::make_input(kind, image_size);
    const auto bytes = std::span(reinterpret_cast<const unsigned char*>(image.data()), image.size());
    scan_window first_window;
    std::copy_n(bytes.begin(), first_window.size(), first_window.begin());
    const auto rest = bytes.subspan(first_window.size());
    for (auto _ : state) {
        report_writer writer{stdout};  // the inputs hold no marker, so nothing is written
        scan_state scan = start_scan(first_window, level);
        bool seventh_line = false;
        for (std::size_t start = 0; start < rest.size() && !seventh_line;
             start += default_block_capacity) {
            seventh_line = scan_block(
                scan, rest.subspan(start, std::min(default_block_capacity, rest.size() - start)),
                writer);
        }
        benchmark::DoNotOptimize(seventh_line);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(image.size()));
}

const bool registered = [] {
    for (const bench::input_class kind : bench::all_input_classes) {
        for (const simd_level level : testing::all_simd_levels) {
            const std::string name = "scan/" + std::string(bench::input_class_name(kind)) + "/" +
                                     testing::simd_level_name(level);
            benchmark::RegisterBenchmark(name.c_str(), scan_in_memory, kind, level);
        }
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
