#include "report_writer.hpp"

#include <cassert>

namespace fwtally {

bool report_version(report_writer& writer, const held_marker& marker, std::uint64_t offset) {
    assert(writer.report_index < media_labels.size());
    if (writer.before_line != nullptr) {
        writer.before_line();
    }
    const std::size_t index = writer.report_index;
    const std::string_view label = media_labels[index];
    ++writer.report_index;

    // Positions 6 and 7 are always the pattern's underscores, so never text.
    constexpr std::size_t longest_text = 6;
    std::size_t text_length = 0;
    while (text_length < longest_text && marker[text_length] != '_') {
        ++text_length;
    }

    std::fwrite(label.data(), 1, label.size(), writer.output);
    std::fputs(" version: ", writer.output);
    std::fwrite(marker.data(), 1, text_length, writer.output);
    std::fputc('\n', writer.output);
    if (writer.observer != nullptr) {
        writer.observer(writer.observer_context, index, std::span(marker.data(), text_length),
                        offset);
    }
    return writer.report_index == media_labels.size();
}

}  // namespace fwtally
