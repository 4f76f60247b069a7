#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "helpers.h"
#include "copy.h"
#include "input.h"
#include "output.h"

namespace {

using namespace bytemend;

using CopyFunction = Stop (*)(const Input&, const Output&, std::int64_t, unsigned char);

using Copies = InTempDir;

TEST_F(Copies, KernelAndBufferedCopiesPlaceTheByteAnywhere) {
    const std::string original = copy_sample();
    write_file("in.bin", original);
    const std::int64_t chunk = 256 * 1024;
    const std::int64_t last = static_cast<std::int64_t>(original.size()) - 1;
    for (const CopyFunction copy : {&copy_patched, &copy_through_buffer}) {
        for (const std::int64_t location : {std::int64_t{0}, chunk - 1, chunk, 2 * chunk, last}) {
            SCOPED_TRACE("location " + std::to_string(location));
            auto input = open_input("in.bin");
            ASSERT_TRUE(input);
            Output output;
            ASSERT_TRUE(open_output(output, "out.bin", *input));
            const char byte = static_cast<char>(~original[location]);
            ASSERT_TRUE(copy(*input, output, location, static_cast<unsigned char>(byte)).done());
            ASSERT_TRUE(close_output(output));
            EXPECT_EQ(read_file("out.bin"), with_byte(original, location, byte));
        }
    }
}

TEST_F(Copies, OnlyTheMeasuredLengthIsCopiedAndAShorterInputIsAReadFailure) {
    const std::string original = copy_sample();
    write_file("in.bin", original);
    // As if the file shrank, or grew, after it was measured.
    for (const std::int64_t change : {1, -1})
    for (const CopyFunction copy : {&copy_patched, &copy_through_buffer}) {
        std::filesystem::remove("out.bin");
        auto input = open_input("in.bin");
        ASSERT_TRUE(input);
        input->length += change;
        Output output;
        ASSERT_TRUE(open_output(output, "out.bin", *input));
        const Stop stop = copy(*input, output, 0, 0x41);
        EXPECT_EQ(stop.why, change > 0 ? Stop::Why::read : Stop::Why::none);
        EXPECT_EQ(stop.done() && close_output(output), change < 0);
        if (change < 0) {
            EXPECT_EQ(read_file("out.bin"), with_byte(original.substr(0, original.size() - 1), 0, 'A'));
        }
    }
}

}  // namespace
