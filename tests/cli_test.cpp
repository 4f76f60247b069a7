// Runs the built command on real files and checks what a user would see:
// stdout word for word, the exit status, an empty stderr, and the files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "helpers.h"

namespace {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class Cli : public InTempDir {
protected:
    // Files written beyond file_limit bytes fail with EFBIG, as on a full disk.
    Result run(const std::vector<std::string>& args, rlim_t file_limit = RLIM_INFINITY) {
        const std::string out_path = (root_ / "stdout").string();
        const std::string err_path = (root_ / "stderr").string();
        std::vector<char*> argv{const_cast<char*>(BYTEMEND_EXE)};
        for (const auto& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const pid_t pid = fork();
        if (pid == 0) {
            const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const rlimit limit{file_limit, file_limit};
            if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
                setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                _exit(127);
            }
            execv(argv[0], argv.data());
            _exit(127);
        }
        Result result;
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
            result.status = WEXITSTATUS(status);
        }
        result.out = read_file(out_path);
        result.err = read_file(err_path);
        return result;
    }
};

const std::string usage =
    " Bytemend, USAGE:\n inputfile.bin outfile.bin decimal_location values_to_write \n";
const std::string sample = "ab\ncd\r\n";  // line ends must come through as they are

std::string report(long long value, long long location) {
    return "Hexintval = " + std::to_string(value) + " . Adress = " + std::to_string(location) +
           " . \n";
}

bool exists(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0;
}

struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;
    int status;
    std::string input_after;              // in.bin afterwards
    std::optional<std::string> output_after;  // out.bin afterwards; nullopt: not there
    std::function<void()> setup = [] {};
};

// Shown in test names and failures instead of the object's bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class CliTable : public Cli, public testing::WithParamInterface<Case> {};

TEST_P(CliTable, Run) {
    const Case& c = GetParam();
    struct stat full {};
    if (c.args.size() > 1 && c.args[1] == "/dev/full" &&
        (stat("/dev/full", &full) != 0 || !S_ISCHR(full.st_mode))) {
        GTEST_SKIP() << "/dev/full is not the always-full device here";
    }
    write_file("in.bin", sample);
    c.setup();
    const Result result = run(c.args);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file("in.bin"), c.input_after);
    if (c.output_after) {
        EXPECT_EQ(read_file("out.bin"), *c.output_after);
    } else {
        EXPECT_FALSE(exists("out.bin"));
    }
}

const std::string copied = with_byte(sample, 1, 'A');
const std::string patched = with_byte(sample, 0, 'Z');
const auto none = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Cases, CliTable,
    testing::Values(
        Case{"NoArguments", {}, usage, 1, sample, none},
        Case{"FiveArguments", {"in.bin", "out.bin", "1", "41", "x"}, usage, 1, sample, none},
        Case{"HelpAlone", {"--help"}, usage, 1, sample, none},
        Case{"MissingInput", {"nofile.bin", "out.bin", "1", "41"},
             "Error opening nofile.bin for reading.\n", 1, sample, none},
        Case{"DirectoryInput", {".", "out.bin", "0", "41"},
             "Cannot measure the length of .: it is a directory.\n", 1, sample, none},
        Case{"LocationNotANumber", {"in.bin", "out.bin", "abc", "41"},
             "Invalid decimal_location 'abc': expected a decimal byte offset.\n", 1, sample, none},
        Case{"LocationBeyond64Bits", {"in.bin", "out.bin", "9223372036854775808", "41"},
             "Invalid decimal_location '9223372036854775808': expected a decimal byte offset.\n", 1,
             sample, none},
        Case{"LocationAtLength", {"in.bin", "out.bin", "7", "41"},
             report(65, 7) + "Location 7 is outside in.bin, which is 7 bytes long.\n", 1, sample, none},
        Case{"LocationNegative", {"in.bin", "out.bin", "-1", "41"},
             report(65, -1) + "Location -1 is outside in.bin, which is 7 bytes long.\n", 1, sample,
             none},
        Case{"EmptyInput", {"empty.bin", "out.bin", "0", "41"},
             report(65, 0) + "Location 0 is outside empty.bin, which is 0 bytes long.\n", 1, sample,
             none, [] { write_file("empty.bin", ""); }},
        Case{"Copy", {"in.bin", "out.bin", "1", "41"}, report(65, 1) + "Done\n", 0, sample, copied},
        Case{"CopyCarriageReturnOverLineFeed", {"in.bin", "out.bin", "2", "10D"},
             report(269, 2) + "Done\n", 0, sample, with_byte(sample, 2, '\r')},
        Case{"CopyOverLongerOutput", {"in.bin", "out.bin", "1", "41"}, report(65, 1) + "Done\n", 0,
             sample, copied, [] { write_file("out.bin", "a much longer old output"); }},
        Case{"InPlaceSamePath", {"in.bin", "in.bin", "0", "5a"}, report(90, 0) + "Done\n", 0,
             patched, none},
        Case{"InPlaceOtherSpelling", {"in.bin", "../work/in.bin", "0", "5a"},
             report(90, 0) + "Done\n", 0, patched, none},
        Case{"InPlaceHardLink", {"in.bin", "hard.bin", "0", "5a"}, report(90, 0) + "Done\n", 0,
             patched, none, [] { ASSERT_EQ(link("in.bin", "hard.bin"), 0); }},
        Case{"InPlaceSymlink", {"in.bin", "sym.bin", "0", "5a"}, report(90, 0) + "Done\n", 0,
             patched, none, [] { ASSERT_EQ(symlink("in.bin", "sym.bin"), 0); }},
        Case{"ThroughDanglingSymlink", {"in.bin", "link.bin", "1", "41"}, report(65, 1) + "Done\n",
             0, sample, copied, [] { ASSERT_EQ(symlink("out.bin", "link.bin"), 0); }},
        Case{"OutputFolderMissing", {"in.bin", "nodir/out.bin", "1", "41"},
             report(65, 1) + "Failed to open/create nodir/out.bin.\n", 1, sample, none},
        Case{"OutputCannotBeWritten", {"in.bin", "/dev/full", "1", "41"},
             report(65, 1) + "Failed to write /dev/full: No space left on device.\n", 1, sample,
             none}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST_F(Cli, NewOutputTakesInputPermissionsAndOldOneKeepsItsOwn) {
    write_file("in.bin", sample);
    write_file("old.bin", "old");
    ASSERT_EQ(chmod("in.bin", 04755), 0);
    ASSERT_EQ(chmod("old.bin", 0604), 0);
    struct stat before {}, created {}, kept {};
    ASSERT_EQ(stat("old.bin", &before), 0);
    const mode_t previous = umask(027);
    EXPECT_EQ(run({"in.bin", "new.bin", "1", "41"}).status, 0);
    EXPECT_EQ(run({"in.bin", "old.bin", "1", "41"}).status, 0);
    umask(previous);
    ASSERT_EQ(stat("new.bin", &created), 0);
    ASSERT_EQ(stat("old.bin", &kept), 0);
    EXPECT_EQ(created.st_mode & 07777, 0750u);
    EXPECT_EQ(kept.st_mode & 07777, 0604u);
    EXPECT_EQ(kept.st_ino, before.st_ino);
    EXPECT_EQ(read_file("old.bin"), copied);
}

TEST_F(Cli, FailedCopyRemovesOnlyAnOutputItCreated) {
    const std::string big(64 * 1024, 'x');
    write_file("in.bin", big);
    write_file("old.bin", "there before");
    for (const char* output : {"out.bin", "old.bin"}) {
        SCOPED_TRACE(output);
        const Result result = run({"in.bin", output, "1", "41"}, 16 * 1024);
        EXPECT_EQ(result.out, report(65, 1) + "Failed to write " + output + ": File too large.\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(read_file("in.bin"), big);
    }
    EXPECT_FALSE(exists("out.bin"));
    EXPECT_TRUE(exists("old.bin"));
}

TEST_F(Cli, PipeOutputGetsTheByteInTheStream) {
    write_file("in.bin", sample);
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_file("pipe"); });
    const Result result = run({"in.bin", "pipe", "1", "41"});
    // Should the command never have opened the pipe, let the reader see its end.
    const int writer = open("pipe", O_WRONLY | O_NONBLOCK);
    if (writer >= 0) {
        close(writer);
    }
    reader.join();
    EXPECT_EQ(result.out, report(65, 1) + "Done\n");
    EXPECT_EQ(received, copied);
}

TEST_F(Cli, PipeClosedEarlyIsAFailedWriteNotADeath) {
    write_file("in.bin", std::string(4 << 20, 'x'));  // far more than a pipe holds
    ASSERT_EQ(mkfifo("pipe", 0600), 0);
    std::thread reader([] { close(open("pipe", O_RDONLY)); });
    const Result result = run({"in.bin", "pipe", "1", "41"});
    reader.join();
    EXPECT_EQ(result.out, report(65, 1) + "Failed to write pipe: Broken pipe.\n");
    EXPECT_EQ(result.status, 1);
}

TEST_F(Cli, PatchesPastFourGibibytesInPlace) {
    const off_t length = 5LL << 30;  // sparse: costs no disk space
    write_file("in.bin", "");
    ASSERT_EQ(truncate("in.bin", length), 0);
    const Result result = run({"in.bin", "in.bin", "4500000000", "41"});
    EXPECT_EQ(result.out, report(65, 4500000000) + "Done\n");
    char byte = 0;
    const int in = open("in.bin", O_RDONLY);
    EXPECT_EQ(pread(in, &byte, 1, 4500000000), 1);
    EXPECT_EQ(byte, 'A');
    EXPECT_EQ(lseek(in, 0, SEEK_END), length);
    close(in);
}

}  // namespace
