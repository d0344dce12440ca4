#include "scan_runs.hpp"

#include <gtest/gtest.h>

#include "temporary_file.hpp"
#include "version_log.hpp"

namespace fwtally::testing {

scan_run scan_image(std::string_view image, std::size_t block_capacity, simd_level level) {
    const file_handle image_file = file_holding(image);
    const file_handle output = file_holding("");
    if (!image_file || !output) {
        ADD_FAILURE() << "cannot create a temporary file";
        return {};
    }
    scan_window window;
    EXPECT_EQ(std::fread(window.data(), 1, window.size(), image_file.get()), window.size());
    report_writer writer{output.get()};
    std::vector<found_version> versions;
    log_versions(writer, versions);
    const scan_end end = scan_markers(window, image_file.get(), writer, block_capacity, level);
    const long position_after = std::ftell(image_file.get());
    return {contents_of(output.get()), versions, end, position_after};
}

}  // namespace fwtally::testing
