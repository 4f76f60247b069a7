#include <gtest/gtest.h>

#include <string>

#include "helpers.h"
#include "copy.h"
#include "input.h"
#include "output.h"

namespace {

using namespace bytemend;

using CopyFunction = bool (*)(const Input&, const Output&, std::int64_t, unsigned char);

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
            ASSERT_TRUE(copy(*input, output, location, static_cast<unsigned char>(byte)));
            ASSERT_TRUE(close_output(output));
            EXPECT_EQ(read_file("out.bin"), with_byte(original, location, byte));
        }
    }
}

TEST_F(Copies, InputShorterThanMeasuredIsAReadFailure) {
    write_file("in.bin", copy_sample());
    for (const CopyFunction copy : {&copy_patched, &copy_through_buffer}) {
        auto input = open_input("in.bin");
        ASSERT_TRUE(input);
        input->length += 1;  // as if the file shrank after it was measured
        Output output;
        ASSERT_TRUE(open_output(output, "out.bin", *input));
        testing::internal::CaptureStdout();
        EXPECT_FALSE(copy(*input, output, 0, 0x41));
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to read file.\n");
    }
}

}  // namespace
