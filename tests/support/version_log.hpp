#pragma once

#include <span>
#include <string>
#include <vector>

#include "reference_scan.hpp"
#include "report_writer.hpp"

namespace fwtally::testing {

// Makes `writer` note each version it reports, with its offset, in `versions`.
inline void log_versions(report_writer& writer, std::vector<found_version>& versions) {
    writer.observer = [](void* context, std::size_t, std::span<const unsigned char> text,
                         std::uint64_t offset) {
        static_cast<std::vector<found_version>*>(context)->push_back(
            {std::string(text.begin(), text.end()), offset});
    };
    writer.observer_context = &versions;
}

}  // namespace fwtally::testing
