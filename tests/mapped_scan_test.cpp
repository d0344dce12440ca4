// The mapped path as the kernel sees it: which files it maps, how many windows of
// what length, that each is let go, and what that costs in memory. Output alone
// cannot tell: the reading loop prints the same lines.

#include <gtest/gtest.h>

#ifdef __linux__
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.hpp"
#include "driver.hpp"
#include "mapped_scan.hpp"
#include "markers.hpp"
#include "temporary_file.hpp"

namespace fwtally::testing {
namespace {

// A sample of Linux's /proc/self/smaps_rollup, with `file_pmd_mapped` in place of
// the FilePmdMapped figure.
std::string rollup_text(std::string_view file_pmd_mapped) {
    return "55d0c2a3e000-7ffc8b9f5000 ---p 00000000 00:00 0                          [rollup]\n"
           "Rss:                9876 kB\n"
           "Pss_File:            741 kB\n"
           "AnonHugePages:         0 kB\n"
           "ShmemPmdMapped:     6144 kB\n" +
           std::string(file_pmd_mapped) +
           "Shared_Hugetlb:        0 kB\n"
           "Swap:                  0 kB\n";
}

struct rollup_case {
    const char* name;
    std::string text;
    std::optional<std::uint64_t> kibibytes;
};

TEST(HugePageProbe, ReadsTheFilePmdMappedFigure) {
    const std::vector<rollup_case> cases{
        {"huge pages mapped", rollup_text("FilePmdMapped:      4096 kB\n"), 4096},
        {"none mapped", rollup_text("FilePmdMapped:         0 kB\n"), 0},
        {"figure without padding", rollup_text("FilePmdMapped:2048 kB\n"), 2048},
        {"a kernel without the field", rollup_text(""), std::nullopt},
        {"field with no figure", rollup_text("FilePmdMapped:    kB\n"), std::nullopt},
        {"empty text", "", std::nullopt},
    };
    for (const rollup_case& test_case : cases) {
        EXPECT_EQ(file_kibibytes_mapped_huge(test_case.text), test_case.kibibytes) << test_case.name;
    }
}

struct decision_case {
    std::uint64_t before;
    std::optional<std::uint64_t> after;
    bool mapped;
};

TEST(HugePageProbe, MapsOnlyWhereTheFirstWindowAddedHugePages) {
    const std::vector<decision_case> cases{
        {0, 2048, true},          {2048, 4096, true},  {0, 0, false},
        {2048, 2048, false},      {4096, 2048, false}, {0, std::nullopt, false},
        {2048, std::nullopt, false},
    };
    for (const decision_case& test_case : cases) {
        EXPECT_EQ(first_window_mapped_huge(test_case.before, test_case.after), test_case.mapped)
            << "before " << test_case.before << " kB, after "
            << (test_case.after ? std::to_string(*test_case.after) + " kB" : "unknown");
    }
}

struct file_mapping {
    std::uint64_t offset;
    std::uint64_t length;
    bool operator==(const file_mapping&) const = default;
};

void PrintTo(const file_mapping& mapping, std::ostream* stream) {
    *stream << "{offset " << mapping.offset << ", length " << mapping.length << "}";
}

// An open file as /proc/self/maps names it: its device and inode, and its path.
// On overlayfs the maps give the inode of the file beneath, so the path tells.
struct mapped_file {
    struct stat status {};
    std::string path;
};

mapped_file mapped_file_of(std::FILE* file) {
    mapped_file mapped;
    EXPECT_EQ(fstat(fileno(file), &mapped.status), 0);
    std::error_code error;
    mapped.path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fileno(file)), error);
    return mapped;
}

// The file's mappings in this process, as the kernel lists them.
std::vector<file_mapping> mappings_of(const mapped_file& file) {
    std::vector<file_mapping> mappings;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        // start-end permissions offset major:minor inode [path]
        std::istringstream fields(line);
        std::string range;
        std::string permissions;
        std::string offset;
        std::string device;
        std::uint64_t inode = 0;
        std::string path;
        if (!(fields >> range >> permissions >> offset >> device >> inode)) {
            continue;
        }
        std::getline(fields >> std::ws, path);
        const auto hex = [](const std::string& text) { return std::stoull(text, nullptr, 16); };
        const std::size_t colon = device.find(':');
        const bool same_inode = inode == file.status.st_ino &&
                                hex(device.substr(0, colon)) == major(file.status.st_dev) &&
                                hex(device.substr(colon + 1)) == minor(file.status.st_dev);
        if (same_inode || (!file.path.empty() && path == file.path)) {
            const std::size_t dash = range.find('-');
            mappings.push_back({hex(offset), hex(range.substr(dash + 1)) - hex(range.substr(0, dash))});
        }
    }
    return mappings;
}

// What was mapped of the image each time a line was printed.
struct mapping_log {
    mapped_file image;
    std::vector<std::vector<file_mapping>> at_each_line;
};

struct logged_scan {
    std::vector<std::vector<file_mapping>> at_each_line;
    std::vector<file_mapping> after;
    scan_end end;
};

// Scans `image` from its start as the driver does, noting the image's mappings at
// each line and once the scan is over.
logged_scan scan_logging_mappings(std::FILE* image, const read_settings& settings) {
    mapping_log log{mapped_file_of(image), {}};
    std::rewind(image);
    scan_window first_window;
    EXPECT_EQ(std::fread(first_window.data(), 1, first_window.size(), image), first_window.size());
    const file_handle output = file_holding("");
    report_writer writer{output.get()};
    writer.observer = [](void* context, std::size_t, std::span<const unsigned char>, std::uint64_t) {
        auto& logged = *static_cast<mapping_log*>(context);
        logged.at_each_line.push_back(mappings_of(logged.image));
    };
    writer.observer_context = &log;
    const scan_end end = scan_image_file(first_window, image, writer, settings);
    return {log.at_each_line, mappings_of(log.image), end};
}

std::size_t page_size() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

// `length` bytes of filler with "x1.2345__y" at each of `offsets`.
std::string image_with_markers(std::size_t length, const std::vector<std::size_t>& offsets) {
    std::string image(length, 'f');
    for (const std::size_t offset : offsets) {
        image.replace(offset, 10, "x1.2345__y");
    }
    return image;
}

struct window_case {
    const char* name;
    std::size_t marked_windows;  // the first this many windows hold a marker each
    scan_end end;
};

// Six windows of sixteen pages and a last one of five, each marker reported while
// its own window is scanned: then that window, and only it, is mapped.
TEST(MappedScan, MapsOneWholeWindowAtATimeAndLetsEachGo) {
    const std::size_t page = page_size();
    const std::size_t window = 16 * page;
    const std::size_t length = 6 * window + 5 * page;
    const read_settings settings{.smallest_mapped_length = 0,
                                 .mapped_window_length = window,
                                 .map_only_in_huge_pages = false};
    for (const window_case test_case : {window_case{"stopped by the seventh line", 7, scan_end::seventh_line},
                                        window_case{"to the end of the file", 6, scan_end::end_of_file}}) {
        SCOPED_TRACE(test_case.name);
        std::vector<std::size_t> offsets;
        std::vector<std::vector<file_mapping>> expected;
        for (std::size_t index = 0; index < test_case.marked_windows; ++index) {
            offsets.push_back(index * window + 1000);
            expected.push_back({{index * window, std::min(window, length - index * window)}});
        }
        const file_handle image = file_holding(image_with_markers(length, offsets));
        ASSERT_TRUE(image);
        const logged_scan scan = scan_logging_mappings(image.get(), settings);
        EXPECT_EQ(scan.end, test_case.end);
        EXPECT_EQ(scan.at_each_line, expected);
        EXPECT_EQ(scan.after, std::vector<file_mapping>{}) << "a window is left mapped";
    }
}

std::uint64_t status_kibibytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stoull(line.substr(field.size() + 1));
        }
    }
    ADD_FAILURE() << field << " not found in /proc/self/status";
    return 0;
}

// Every mapped page counts as resident while it stays mapped, so memory would grow
// with the image if windows were kept.
TEST(MappedScan, PeakMemoryStaysNearOneWindowOnAnImageOfManyWindows) {
    if (running_under_emulator()) {
        GTEST_SKIP() << "the emulator's own memory use would be measured";
    }
    constexpr std::size_t window = std::size_t{1} << 20;
    constexpr std::size_t windows = 64;
    const file_handle image(temporary_file());
    ASSERT_TRUE(image);
    const std::string piece = image_with_markers(window, {window / 2});
    for (std::size_t index = 0; index < windows; ++index) {
        std::fwrite(piece.data(), 1, piece.size(), image.get());
    }
    ASSERT_EQ(std::fflush(image.get()), 0);
    {
        std::ofstream clear_refs("/proc/self/clear_refs");
        clear_refs << "5";  // the peak starts again from what is resident now
        if (!clear_refs.flush()) {
            GTEST_SKIP() << "the peak resident memory cannot be reset here";
        }
    }
    const std::uint64_t resident_before = status_kibibytes("VmRSS");
    const logged_scan scan = scan_logging_mappings(
        image.get(),
        {.smallest_mapped_length = 0, .mapped_window_length = window, .map_only_in_huge_pages = false});
    const std::uint64_t growth = status_kibibytes("VmHWM") - resident_before;
    EXPECT_EQ(scan.at_each_line.size(), 7U);
    EXPECT_EQ(scan.at_each_line.back(), (std::vector<file_mapping>{{6 * window, window}}))
        << "the image is not read through the mapped path";
    EXPECT_LT(growth, 3 * window / 1024) << "kibibytes grown over an image of " << windows
                                         << " windows of " << window / 1024 << " KiB";
}

// Whether the kernel maps this file's first two megabytes as one huge page: the
// FilePmdMapped figure of a mapping of its own, from /proc/self/smaps.
bool kernel_maps_in_huge_pages(int descriptor, std::size_t length) {
    void* base = mmap(nullptr, length, PROT_READ, MAP_SHARED, descriptor, 0);
    if (base == MAP_FAILED) {
        return false;
    }
    static_cast<void>(*static_cast<const volatile unsigned char*>(base));
    std::ostringstream start;
    start << std::hex << reinterpret_cast<std::uintptr_t>(base) << '-';
    std::ifstream smaps("/proc/self/smaps");
    std::string line;
    bool in_mapping = false;
    std::uint64_t kibibytes = 0;
    while (std::getline(smaps, line)) {
        // A mapping's first line starts with its address, its fields with a capital.
        if (!line.empty() && std::isupper(static_cast<unsigned char>(line[0])) == 0) {
            in_mapping = line.rfind(start.str(), 0) == 0;
        } else if (in_mapping && line.rfind("FilePmdMapped:", 0) == 0) {
            kibibytes = std::stoull(line.substr(14));
        }
    }
    munmap(base, length);
    return kibibytes > 0;
}

struct probe_case {
    const char* name;
    std::filesystem::path folder;
    bool written_in_pages;  // rather than in one write
};

constexpr std::size_t probed_length = std::size_t{4} << 20;

// Writes an image of `probed_length` bytes with two markers, a page at a time or
// in one write: where the page cache takes large writes in large pieces, only the
// latter is held in huge pages.
std::filesystem::path write_probed_image(const probe_case& test_case) {
    std::filesystem::path path =
        test_case.folder / ("fwtally-probe-" + std::to_string(getpid()) + ".bin");
    const std::string image = image_with_markers(probed_length, {1000, probed_length - 1000});
    std::ofstream file(path, std::ios::binary);
    const std::size_t piece = test_case.written_in_pages ? page_size() : image.size();
    for (std::size_t at = 0; at < image.size(); at += piece) {
        file.write(image.data() + at, static_cast<std::streamsize>(piece));
    }
    return path;
}

// With the tool's own settings a file is mapped exactly where the kernel maps it in
// huge pages, which is told by a mapping of the test's own. Files on a tmpfs
// without huge pages, and files written a page at a time, are held in small pages;
// a file written in one write is held in huge pages by file systems with large
// folios, such as ext4 on recent kernels.
TEST(MappedScan, FilesAreMappedExactlyWhereTheKernelMapsThemInHugePages) {
    if (running_under_emulator()) {
        GTEST_SKIP() << "the emulator maps the guest's files in pages of its own";
    }
    const std::vector<probe_case> cases{
        {"tmpfs", "/dev/shm", false},
        {"temporary folder, a page at a time", std::filesystem::temp_directory_path(), true},
        {"temporary folder, one write", std::filesystem::temp_directory_path(), false},
    };
    std::size_t mapped_cases = 0;
    std::size_t read_cases = 0;
    for (const probe_case& test_case : cases) {
        if (!std::filesystem::is_directory(test_case.folder)) {
            continue;
        }
        SCOPED_TRACE(test_case.name);
        const std::filesystem::path path = write_probed_image(test_case);
        const file_handle image(open_image(path.c_str()));
        ASSERT_TRUE(image);
        const bool in_huge_pages = kernel_maps_in_huge_pages(fileno(image.get()), probed_length);
        const logged_scan scan = scan_logging_mappings(image.get(), read_settings{});
        std::filesystem::remove(path);
        ASSERT_EQ(scan.at_each_line.size(), 2U);
        const std::vector<file_mapping> expected =
            in_huge_pages ? std::vector<file_mapping>{{0, probed_length}} : std::vector<file_mapping>{};
        EXPECT_EQ(scan.at_each_line.front(), expected)
            << (in_huge_pages ? "held in huge pages" : "held in small pages");
        EXPECT_EQ(scan.after, std::vector<file_mapping>{});
        (in_huge_pages ? mapped_cases : read_cases) += 1;
    }
    if (mapped_cases == 0 || read_cases == 0) {
        GTEST_SKIP() << "only files held in " << (mapped_cases == 0 ? "small" : "huge")
                     << " pages could be made here; the other choice was not tried";
    }
}

}  // namespace
}  // namespace fwtally::testing
#endif
