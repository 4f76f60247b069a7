// Windows: the command line read as typed, and the input's pattern expanded.

#include <cwchar>
#include <new>
#include <vector>

#include "console.h"
#include "say.h"
#include "startup.h"
#include "windows_shared.h"
#include "wtf8.h"

// The C runtime expands no patterns: start_process reads the command line.
extern "C" { int _dowildcard = 0; }

namespace bytemend {

namespace {

struct Typed {
    std::wstring text;
    bool quoted = false;
};

// Each argument, and whether it had quotes, by the C runtime's rules: blanks
// split outside quotes; 2n backslashes before a quote are n and the quote
// opens or closes, 2n+1 are n and a quote; other backslashes are themselves;
// "" in quotes is a quote. The program's own name, a path, has no escapes.
std::vector<Typed> split(const wchar_t* c) {
    const auto blank = [](wchar_t letter) { return letter == L' ' || letter == L'\t'; };
    std::vector<Typed> words;
    for (; words.empty() || *c != L'\0'; c += std::wcsspn(c, L" \t")) {
        Typed& word = words.emplace_back();
        const bool escapes = words.size() > 1;
        for (bool in_quotes = false; *c != L'\0' && (in_quotes || !blank(*c)); ++c) {
            const std::size_t backslashes = escapes ? std::wcsspn(c, L"\\") : 0;
            c += backslashes;
            const bool quote = *c == L'"';
            word.text.append(quote ? backslashes / 2 : backslashes, L'\\');
            if (*c == L'\0' || (!in_quotes && blank(*c))) {
                break;
            }
            if (!quote || backslashes % 2 == 1) {
                word.text += *c;
            } else if (escapes && in_quotes && c[1] == L'"') {
                word.text += L'"';
                ++c;
            } else {
                in_quotes = !in_quotes;
                word.quoted = true;
            }
        }
    }
    return words;
}

// As cmd and FindFirstFileW read a pattern, ignoring case: "*.*" is "*"; a ? is
// one character, or none before a dot or the end; a * before a dot stops short
// of the name's last dot; a dot before a ?, a * or the end is a dot or the end
// ("*." takes dotless names, "a?.bin" "a.bin" too). As the ways to try branch,
// each at(p, i), whether pattern[p..] takes name[i..], is found once.
bool fits(std::wstring_view name, std::wstring_view pattern) {
    pattern = pattern == L"*.*" ? L"*" : pattern;
    const std::size_t length = name.size();
    const std::size_t last_dot = name.rfind(L'.');
    std::vector<char> fit((pattern.size() + 1) * (length + 1), 0);
    const auto at = [&](std::size_t p, std::size_t i) -> char& { return fit[p * (length + 1) + i]; };
    for (std::size_t i = length + 1; i-- > 0;) {
        at(pattern.size(), i) = i == length;
        const bool more = i < length;
        const wchar_t c = more ? name[i] : L'\0';
        for (std::size_t p = pattern.size(); p-- > 0;) {
            const wchar_t step = pattern[p];
            const wchar_t next = p + 1 < pattern.size() ? pattern[p + 1] : L'\0';
            at(p, i) = step == L'*' ? at(p + 1, i) || (more && (next != L'.' || i != last_dot) && at(p, i + 1))
                       : step == L'?' ? (more && c != L'.' ? at(p + 1, i + 1) : at(p + 1, i))
                       : step == L'.' && (next == L'?' || next == L'*' || next == L'\0')
                           ? (more ? c == L'.' && at(p + 1, i + 1) : at(p + 1, i))
                           : more && CompareStringOrdinal(&c, 1, &step, 1, TRUE) == CSTR_EQUAL && at(p + 1, i + 1);
        }
    }
    return at(0, 0) != 0;
}

// How many files, not folders, a pattern matches, and the first, named as the
// C runtime names it: the folder as typed. Each name is fitted here, as
// Windows' search also takes 8.3 names (*.bin finds REPORT~1.BIN).
int matches(const std::wstring& pattern, std::wstring& first) {
    int count = 0;
    const std::wstring folder = pattern.substr(0, pattern.find_last_of(L"\\/:") + 1);
    std::wstring everything;
    WIN32_FIND_DATAW entry{};
    const HANDLE search = wide_path(folder + L"*", everything)
                              ? INVALID_HANDLE_VALUE
                              : FindFirstFileExW(everything.c_str(), FindExInfoStandard, &entry, FindExSearchNameMatch,
                                                 nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return count;
    }
    const std::wstring_view last = std::wstring_view(pattern).substr(folder.size());
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && fits(entry.cFileName, last) && ++count == 1) {
            first = folder + entry.cFileName;
        }
    } while (FindNextFileW(search, &entry) != 0);
    FindClose(search);
    return count;
}

}  // namespace

// From the wide command line: main's arguments lose names in the ANSI code
// page, expanded by each C runtime's rules. In a run, the input's pattern is
// the one file it matches, or itself where none does; more are refused, as a
// forgotten output name would make the second the output. One in the output's
// name would choose the file to overwrite. A closed standard descriptor stays
// taken (-2 to the C runtime): no file of the run gets its number.
bool start_process(int& argc, char**& argv) {
    static std::vector<std::string> arguments;
    static std::vector<char*> pointers;
    try {
        std::vector<Typed> words = split(GetCommandLineW());
        if (words.size() == 2 && words[1].text == L"/?") {
            words[1] = {L"--help", true};
        }
        const bool run = words.size() == 5;
        for (const Typed& word : words) {
            // A * or ? makes a pattern in a file name (in a number, f? is a
            // typing slip), not in a \\?\ or \\.\ path, taken as it is.
            const std::size_t at = arguments.size();
            const bool pattern = run && word.text.find_first_of(L"*?") != std::wstring::npos && !is_literal(word.text);
            std::wstring first;
            const int count = pattern && at == 1 && !word.quoted ? matches(word.text, first) : 0;
            const std::string why =
                pattern && at == 2 ? " as the output: a pattern would choose the file to overwrite.\n"
                : count > 1        ? " as one file: the pattern matches " + std::to_string(count) + " files.\n"
                                   : "";
            if (!why.empty()) {
                put_text(stdout, "Cannot take " + shown(wtf8_from_wide(word.text)) + why);
                return false;
            }
            arguments.push_back(wtf8_from_wide(count == 1 ? first : word.text));
        }
        for (auto& argument : arguments) {
            pointers.push_back(argument.data());
        }
        pointers.push_back(nullptr);
    } catch (const std::bad_alloc&) {
        put_text(stdout, "Failed to allocate memory.\n");
        return false;
    }
    argc = static_cast<int>(arguments.size());
    argv = pointers.data();
    return true;
}

}  // namespace bytemend
