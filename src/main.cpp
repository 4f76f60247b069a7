// bytemend: copy a file with exactly one byte replaced, or patch that byte in
// place when the output is the input.

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "copy.h"
#include "input.h"
#include "numbers.h"
#include "output.h"
#include "say.h"
#include "standard_output.h"
#include "startup.h"

using namespace bytemend;

namespace {

constexpr const char* usage =
    " Bytemend, USAGE:\n inputfile.bin outfile.bin decimal_location values_to_write \n";
constexpr const char* more = "More in 'man bytemend', or on Windows in README.txt beside bytemend.exe.\n";

// --help, -h or --version alone, what a command-line user tries first:
// status 0. Any other argument count is the usage text's.
std::optional<int> answer_option(int argc, char** argv) {
    if (argc != 2) {
        return std::nullopt;
    }
    const std::string_view option = argv[1];
    if (option == "--help" || option == "-h") {
        return say("%s%s", usage, more) ? 0 : 1;
    }
    if (option == "--version") {
        return say("bytemend %s\n", BYTEMEND_VERSION) ? 0 : 1;
    }
    return std::nullopt;
}

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
        say("Invalid decimal_location '%s': expected a decimal byte offset; %s%s is %lld.\n",
            typed.c_str(), hex->prefixed ? "" : "as hexadecimal, ", typed.c_str(),
            static_cast<long long>(hex->number));
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
    if (const auto status = answer_option(argc, argv)) {
        return *status;
    }
    if (argc != 5) {
        say("%s", usage);
        return 1;
    }
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    if (!check_standard_output(input_path, output_path)) {
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
    if (!check_location(*input, *location)) {
        return 1;
    }

    auto output = open_output(output_path, *input);
    if (!output) {
        return 1;
    }
    const auto byte = static_cast<unsigned char>(*value);
    const bool written = write_output(*input, *output, *location, byte);
    // A new output that is not complete goes with `output`.
    if (!written || !close_output(*output)) {
        return 1;
    }

    // The report is part of the result: one not delivered fails the run.
    return say("Done\n") && std::fflush(stdout) == 0 ? 0 : 1;
}
