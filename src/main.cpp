// bytemend: copy a file with exactly one byte replaced, or patch that byte in
// place when the output is the input.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "copy.h"
#include "input.h"
#include "numbers.h"
#include "output.h"
#include "report.h"
#include "startup.h"

using namespace bytemend;

namespace {

constexpr const char* usage =
    " Bytemend, USAGE:\n inputfile.bin outfile.bin decimal_location values_to_write \n";

// A location or value that is not a number is refused rather than read as
// one: a hex editor's "0x1000" would otherwise patch byte 0, and a value of
// "zz" or an empty argument would write 0x00, each reported as done.
std::optional<std::int64_t> read_location(const char* text) {
    const auto location = parse_location(text);
    if (location) {
        return location;
    }
    const std::string typed = shown(text);
    if (const auto hex = hex_location(text)) {
        say("Invalid decimal_location '%s': expected a decimal byte offset; %s is %lld.\n",
            typed.c_str(), typed.c_str(), static_cast<long long>(*hex));
    } else {
        say("Invalid decimal_location '%s': expected a decimal byte offset.\n", typed.c_str());
    }
    return std::nullopt;
}

std::optional<std::int32_t> read_value(const char* text) {
    const auto value = parse_value(text);
    if (!value) {
        say("Invalid values_to_write '%s': expected a hexadecimal value.\n", shown(text).c_str());
    }
    return value;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (!start_process(argc, argv)) {
        return 1;
    }
    if (argc != 5) {
        say("%s", usage);
        return 1;
    }
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    if (!report_has_a_place(input_path, output_path)) {
        return 1;
    }

    auto input = open_input(input_path);
    if (!input) {
        return 1;
    }
    const auto location = read_location(argv[3]);
    if (!location) {
        return 1;
    }
    const auto value = read_value(argv[4]);
    if (!value) {
        return 1;
    }
    say("Hexintval = %d . Adress = %lld . \n", *value, static_cast<long long>(*location));
    if (!check_location(*input, input_path, *location)) {
        return 1;
    }

    auto output = open_output(output_path, *input);
    if (!output) {
        return 1;
    }
    const auto byte = static_cast<unsigned char>(*value);
    const bool written = output->kind == Output::Kind::same_as_input
                             ? patch_in_place(*output, *location, byte)
                             : copy_patched(*input, *output, *location, byte);
    // A new output that is not complete goes with `output`.
    if (!written || !close_output(*output)) {
        return 1;
    }

    // The report is part of the result: if it cannot be delivered, say so
    // with the status.
    return say("Done\n") && std::fflush(stdout) == 0 ? 0 : 1;
}
