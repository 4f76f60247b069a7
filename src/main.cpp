// bytemend: copy a file with exactly one byte replaced, or patch that byte in
// place when the output is the input.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

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

// The options, each alone on the command line, --version last: status 0,
// or 1 where the answer cannot be printed.
constexpr std::array<std::string_view, 3> options{"--help", "-h", "--version"};

std::optional<int> answer_option(int argc, char** argv) {
    if (argc != 2 || std::ranges::find(options, argv[1]) == options.end()) {
        return std::nullopt;
    }
    const bool version = argv[1] == options.back();
    if (version ? say("bytemend %s\n", BYTEMEND_VERSION) : say("%s%s", usage, more)) {
        return 0;
    }
    say_why(version ? "print the version" : "print the usage text", lost_line());
    return 1;
}

// Why the arguments are not the four of a run: an unknown option, else their
// count. A value (-1, -f), a name (-data.bin), "-" and "--" are no options.
std::string what_was_wrong(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view word = argv[i];
        const bool option = word.starts_with("--") ? word.size() > 2
                                                   : word.size() == 2 && word[0] == '-' &&
                                                         std::isalpha(static_cast<unsigned char>(word[1]));
        if (option && !parse_value(argv[i]) && std::ranges::find(options, word) == options.end()) {
            return "bytemend: unknown option " + quoted(word) + ": the options are --help (-h) and --version";
        }
    }
    const int given = std::max(argc - 1, 0);
    return "bytemend: " + std::to_string(given) + (given == 1 ? " argument" : " arguments") +
           " given, where 4 are needed: the input, the output, the location and the value";
}

// A location or value that is no number is refused, not read as one:
// "0x1000" would patch byte 0, and "zz" or "" write 0x00, reported as done.
std::optional<std::int64_t> read_location(const char* text) {
    if (const auto location = parse_location(text)) {
        return location;
    }
    const std::string typed = shown(text);
    const auto hex = hex_location(text);
    const std::string as_hex =
        hex ? "; " + std::string(hex->prefixed ? "" : "as hexadecimal, ") + typed + " is " + std::to_string(hex->number)
            : "";
    say("Invalid decimal_location '%s': expected a decimal byte offset%s.\n", typed.c_str(), as_hex.c_str());
    return std::nullopt;
}

// A number as a value is typed: hexadecimal digits, a sign if negative.
std::string hex(long long number, const char* prefix = "", int width = 0) {
    std::array<char, 24> digits{};
    std::snprintf(digits.data(), digits.size(), "%s%s%0*llX", number < 0 ? "-" : "", prefix, width,
                  number < 0 ? -number : number);
    return digits.data();
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\v\f\r";
    text.remove_prefix(std::min(text.find_first_not_of(blanks), text.size()));
    return text.substr(0, text.find_last_not_of(blanks) + 1);
}

std::optional<Value> read_value(const char* text) {
    const auto value = parse_value(text);
    if (!value) {
        say("Invalid values_to_write '%s': expected one hexadecimal value, one byte per run.\n", shown(text).c_str());
    }
    return value;
}

// A value past one byte is written as meant, but a slip such as 900 for 90
// is named, once written, on standard error: the report stays as it was.
void name_the_byte(const char* text, Value value) {
    const std::int32_t number = value.number;
    if (number >= 0 && number <= 0xff) {
        return;
    }
    const std::string why = value.saturated ? " is past the 32-bit range: it is read as " + hex(number) + ", whose"
                            : number < 0    ? " is negative: its"
                                            : " is more than one byte: its";
    say_error("bytemend: " + shown(trimmed(text)) + why + " low 8 bits, " + hex(number & 0xff, "0x", 2) +
              ", are written");
}

// The report is part of the result: a line of it lost fails the run.
int report_done() {
    if (say("Done\n") && !lost_line()) {
        return 0;
    }
    say_why("print the whole report, though the byte was written", lost_line());
    return 1;
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
        say_error(what_was_wrong(argc, argv));
        return 1;
    }
    const char* input_path = argv[1];
    const char* output_path = argv[2];
    // Each step only where the one before it succeeded.
    auto input = check_standard_output(input_path, output_path) ? open_input(input_path) : std::nullopt;
    const auto location = input ? read_location(argv[3]) : std::nullopt;
    const auto value = location ? read_value(argv[4]) : std::nullopt;
    if (!value) {
        return 1;
    }
    say("Hexintval = %d . Adress = %lld . \n", value->number, static_cast<long long>(*location));
    Output output;
    if (!check_location(*input, *location) || !open_output(output, output_path, *input)) {
        return 1;
    }
    // A new output that is not complete goes with `output`.
    const auto byte = static_cast<unsigned char>(value->number);
    if (!write_output(*input, output, *location, byte) || !close_output(output)) {
        return 1;
    }
    name_the_byte(argv[4], *value);
    return report_done();
}
