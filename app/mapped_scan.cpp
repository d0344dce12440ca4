#include "mapped_scan.hpp"

#ifdef _WIN32

namespace fwtally {

// Windows reads every image through the reading loop.
std::optional<scan_end> scan_mapped(scan_state&, std::FILE*, std::uint64_t, report_writer&,
                                    std::size_t, bool) {
    return std::nullopt;
}

}  // namespace fwtally

#else

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <csetjmp>
#include <csignal>
#include <string_view>

namespace fwtally {

namespace {

// A page of a mapped file that cannot be read, because the file has been cut short
// under the scan or the disk fails, raises SIGBUS at the instruction that touches
// it. Left to itself that kills the process, losing the lines still buffered and
// reporting nothing. So while a window is scanned, a handler turns such a fault
// into a jump back to scan_windows_or_fault, and the scan ends as a read error,
// as the reading loop's does when read() fails.
//
// The jump is sound because:
//   - it leaves only scan_windows, scan_block, report_version and the functions
//     between them, none of which owns a resource or has an object with a
//     non-trivial destructor;
//   - it starts from a load of the mapped bytes in the scanner's own code, or from
//     the check made before a line is written, never from inside the C library,
//     so stdio is never left part-way through a call;
//   - the handler only tests what it was given and jumps, or restores the default
//     action: nothing it calls is unsafe in a signal handler.
// It acts only while a window is scanned, and only on the two faults a mapped
// file raises: an address past the file's end, or a page that cannot be read.
// While a window is scanned nothing else can raise them, since the scan reads no
// other mapped file: its stack, its state and stdio's buffers are anonymous
// memory. The fault's address is not compared with the window, because emulators
// such as qemu-user report it wrongly for 32-bit and big-endian guests. Any other
// SIGBUS is a fault of the program: the handler restores the default action and
// returns, and the repeated access kills the process as it would have without
// the handler.
sigjmp_buf fault_exit;
std::atomic<bool> window_in_scan{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads it");

// The window mapped now, to unmap after a jump as after a normal end.
struct mapped_window {
    void* base = MAP_FAILED;
    std::size_t length = 0;
    int descriptor = -1;
    std::uint64_t end = 0;  // the image offset just after the window
};
mapped_window current_window;

// A file cut short in the middle of a page, while its window is scanned, reads as
// zeros to the end of that page rather than faulting, and a zero ends a run of
// underscores: it could complete a pending marker that the file never completed.
// So before a line goes out, the file must still hold the whole window, or the
// scan leaves as at a fault. At most seven times a run, one fstat each.
void confirm_window_whole() {
    struct stat status {};
    if (fstat(current_window.descriptor, &status) != 0 ||
        static_cast<std::uint64_t>(status.st_size) < current_window.end) {
        siglongjmp(fault_exit, 1);
    }
}

extern "C" void leave_faulting_window(int, siginfo_t* info, void*) {
    if (window_in_scan.load() && (info->si_code == BUS_ADRERR || info->si_code == BUS_OBJERR)) {
        siglongjmp(fault_exit, 1);
    }
    signal(SIGBUS, SIG_DFL);
}

void unmap_current_window() {
    window_in_scan = false;
    if (current_window.base != MAP_FAILED) {
        munmap(current_window.base, current_window.length);
        current_window = {};
    }
}

// Mapping pays only where the kernel maps the file two megabytes at a time. Each
// page mapped 4 KiB at a time costs a fault, and in virtual machines that shadow
// the guest's page tables a trip through the hypervisor besides, which makes the
// mapped scan several times slower than copying. Whether the page cache holds a
// file in huge pages depends on its file system, the kernel and even on how the
// file was written, so it is asked of the kernel. Nothing where the system does
// not tell; the reading loop then does the work, as fast as ever.
std::optional<std::uint64_t> probe_file_kibibytes_mapped_huge() {
    const int descriptor = open("/proc/self/smaps_rollup", O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return std::nullopt;
    }
    std::array<char, 4096> text{};
    const ssize_t length = read(descriptor, text.data(), text.size());
    close(descriptor);
    if (length <= 0) {
        return std::nullopt;
    }
    return file_kibibytes_mapped_huge(std::string_view(text.data(), static_cast<std::size_t>(length)));
}

enum class windows_end { end_of_file, seventh_line, not_mapped, faulted };

// Maps and scans one window after another, from the page holding state.position.
// `huge_kibibytes_before` is set where the first window must prove that mapping
// pays.
windows_end scan_windows(scan_state& state, int descriptor, std::uint64_t length,
                         report_writer& writer, std::size_t mapped_window_length,
                         std::optional<std::uint64_t> huge_kibibytes_before) {
    const auto page = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
    const std::uint64_t whole_window = std::max<std::uint64_t>(
        page, mapped_window_length / page * page);  // mappings start on a page
    for (bool first_window = true; state.position < length; first_window = false) {
        const std::uint64_t start = state.position / page * page;
        const std::uint64_t mapped = std::min(whole_window, length - start);
        void* base = mmap(nullptr, static_cast<std::size_t>(mapped), PROT_READ, MAP_SHARED,
                          descriptor, static_cast<off_t>(start));
        if (base == MAP_FAILED) {
            return windows_end::not_mapped;
        }
        current_window = {base, static_cast<std::size_t>(mapped), descriptor, start + mapped};
        const auto* bytes = static_cast<const unsigned char*>(base);
        window_in_scan = true;
        if (first_window && huge_kibibytes_before) {
            // Touching the first byte maps its page, or the huge page around it. It
            // comes before the advice, which would have read-ahead pages mapped too,
            // only to be unmapped again where mapping does not pay.
            static_cast<void>(*static_cast<const volatile unsigned char*>(base));
            if (!first_window_mapped_huge(*huge_kibibytes_before,
                                          probe_file_kibibytes_mapped_huge())) {
                unmap_current_window();
                return windows_end::not_mapped;
            }
        }
        posix_madvise(base, current_window.length, POSIX_MADV_SEQUENTIAL);
        const std::uint64_t skipped = state.position - start;
        const bool seventh_line =
            scan_block(state, std::span(bytes + skipped, static_cast<std::size_t>(mapped - skipped)),
                       writer);
        unmap_current_window();
        if (seventh_line) {
            return windows_end::seventh_line;
        }
    }
    return windows_end::end_of_file;
}

// The jump's target, in a function of its own so that nothing of the caller's
// lives across the jump.
windows_end scan_windows_or_fault(scan_state& state, int descriptor, std::uint64_t length,
                                  report_writer& writer, std::size_t mapped_window_length,
                                  std::optional<std::uint64_t> huge_kibibytes_before) {
    // sigsetjmp saves the signal mask, so the jump out of the handler unblocks
    // SIGBUS again.
    if (sigsetjmp(fault_exit, 1) != 0) {
        return windows_end::faulted;
    }
    return scan_windows(state, descriptor, length, writer, mapped_window_length,
                        huge_kibibytes_before);
}

}  // namespace

std::optional<std::uint64_t> file_kibibytes_mapped_huge(std::string_view smaps_rollup) {
    // Field names start lines; ShmemPmdMapped and the like end in the same words.
    constexpr std::string_view field = "\nFilePmdMapped:";
    const std::size_t at = smaps_rollup.find(field);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    // remove_prefix rather than substr, which may throw: the tool needs no C++
    // runtime library, and one throwing call would link it in.
    std::string_view value = smaps_rollup;
    value.remove_prefix(at + field.size());
    value.remove_prefix(std::min(value.find_first_not_of(' '), value.size()));
    std::uint64_t kibibytes = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), kibibytes);
    if (error != std::errc{} || end == value.data()) {
        return std::nullopt;
    }
    return kibibytes;
}

bool first_window_mapped_huge(std::uint64_t kibibytes_before,
                              std::optional<std::uint64_t> kibibytes_after) {
    return kibibytes_after.value_or(0) > kibibytes_before;
}

std::optional<scan_end> scan_mapped(scan_state& state, std::FILE* image, std::uint64_t length,
                                    report_writer& writer, std::size_t mapped_window_length,
                                    bool only_in_huge_pages) {
    std::optional<std::uint64_t> huge_kibibytes_before;
    if (only_in_huge_pages) {
        huge_kibibytes_before = probe_file_kibibytes_mapped_huge();
        if (!huge_kibibytes_before) {
            return std::nullopt;
        }
    }
    struct sigaction handler {};
    handler.sa_sigaction = leave_faulting_window;
    handler.sa_flags = SA_SIGINFO;
    sigemptyset(&handler.sa_mask);
    struct sigaction previous {};
    if (sigaction(SIGBUS, &handler, &previous) != 0) {
        return std::nullopt;
    }
    writer.before_line = confirm_window_whole;
    const windows_end end = scan_windows_or_fault(state, fileno(image), length, writer,
                                                  mapped_window_length, huge_kibibytes_before);
    writer.before_line = nullptr;
    unmap_current_window();
    sigaction(SIGBUS, &previous, nullptr);

    switch (end) {
    case windows_end::faulted:
        return scan_end::read_error;
    case windows_end::seventh_line:
        return scan_end::seventh_line;
    default:
        // The reading loop goes on where the windows stopped.
        if (fseeko(image, static_cast<off_t>(state.position), SEEK_SET) != 0) {
            return scan_end::read_error;
        }
        return std::nullopt;
    }
}

}  // namespace fwtally

#endif
