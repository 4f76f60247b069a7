// The copy on the file systems this machine really has: whether a sparse
// input's holes stay holes depends on the file system's own calls, which
// only a real one answers. Slow beside the unit tests (files of 16 MiB, each
// copied nine times a folder), so a program and a label of its own.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "helpers.h"
#include "copy.h"
#include "fast_copy.h"
#include "input.h"
#include "output.h"

namespace {

using namespace bytemend;

using Copies = InTempDir;

#if !defined(_WIN32)

std::int64_t allocated(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? std::int64_t{status.st_blocks} * 512 : -1;
}

TEST_F(Copies, SparseInputGivesEqualBytesAndStaysSparse) {
    // Holes at the start and the end, and data that starts and ends inside
    // file system blocks, as does the file.
    const std::int64_t length = (16 << 20) + 1000;
    const std::int64_t starts[] = {1 << 20, (5 << 20) + 100, 10 << 20};
    const std::string data = copy_sample();
    std::string untried;  // why each folder was not tried
    int tried = 0;
    // The same folder copies inside the kernel; tmpfs to here cannot, so
    // each extent goes through the buffer.
    for (const std::string folder : {".", "/dev/shm"}) {
        const std::string in = folder + "/bytemend-sparse-" + std::to_string(getpid()) + ".bin";
        const int fd = open(in.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0) {
            untried += " " + folder + ": cannot create a file there;";
            continue;
        }
        bool written = ftruncate(fd, length) == 0;
        for (const std::int64_t start : starts) {
            written = written && pwrite(fd, data.data(), data.size(), start) ==
                                     static_cast<ssize_t>(data.size());
        }
        close(fd);
        ASSERT_TRUE(written);
        if (allocated(in) > length / 2) {
            untried += " " + folder + ": its file system does not keep holes;";
            unlink(in.c_str());
            continue;
        }
        ++tried;
        const std::string original = read_file(in);
        const int scratch = open(in.c_str(), O_WRONLY);
        const bool punches_holes = punch_hole(scratch, 0, 1) != std::errc::operation_not_supported;
        close(scratch);
        // A new output, and old ones, longer and shorter, written in full:
        // their old bytes must not show through the input's holes.
        for (const std::int64_t old : {std::int64_t{0}, length + (1 << 20), std::int64_t{3} << 20})
        for (const std::int64_t location : {std::int64_t{0}, starts[1] + 5, length - 1}) {
            SCOPED_TRACE(folder + ", over an old output of " + std::to_string(old) + ", location " +
                         std::to_string(location));
            std::filesystem::remove("out.bin");
            if (old > 0) {
                write_file("out.bin", std::string(static_cast<size_t>(old), 'x'));
            }
            auto input = open_input(in.c_str());
            ASSERT_TRUE(input);
            Output output;
            ASSERT_TRUE(open_output(output, "out.bin", *input));
            ASSERT_TRUE(copy_patched(*input, output, location, 0x5a).done());
            ASSERT_TRUE(close_output(output));
            EXPECT_EQ(read_file("out.bin"), with_byte(original, location, 0x5a));
            // The input's data, the block the byte is in where it fell in a
            // hole, the last block, written to give the output its length,
            // and one that the longer list of extents may take: no block of
            // zeros left where a hole stops inside one. Where holes cannot
            // be punched, an old output gets zeros written instead.
            struct stat out {};
            ASSERT_EQ(stat("out.bin", &out), 0);
            if (BYTEMEND_FINDS_HOLES && (old == 0 || punches_holes)) {
                EXPECT_LE(allocated("out.bin"), allocated(in) + 3 * out.st_blksize);
            }
        }
        unlink(in.c_str());
    }
    if (tried == 0) {
        GTEST_SKIP() << "not tried in either folder:" << untried;
    }
}

#else

TEST_F(Copies, SparseInputGivesEqualBytesAndStaysSparse) {
    GTEST_SKIP() << "holes are kept only where the system reports them (SEEK_DATA), not on Windows";
}

#endif

}  // namespace
