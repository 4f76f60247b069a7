// Linked into each test program built for Windows. GoogleTest starts a
// thread at a test's first skip or failure, to learn when the test's own
// thread ends. Under CTest, each test is a process of its own, so a skip
// comes just before the process ends; a thread that 32-bit Wine is still
// starting then gets the signal that ends it in a state that Wine does not
// survive, and the process dies of SIGSEGV after its test has passed. So
// the program ends only once every thread it started has run this
// program's thread callback, which Windows calls before a new thread's own
// code.

#include <gtest/gtest.h>
#include <windows.h>

#include <tlhelp32.h>  // after windows.h, whose types it takes

#include <mutex>
#include <set>

namespace {

std::mutex mutex;
std::set<DWORD> started;

void NTAPI on_thread(PVOID, DWORD reason, PVOID) {
    if (reason == DLL_THREAD_ATTACH) {
        const std::lock_guard lock(mutex);
        started.insert(GetCurrentThreadId());
    }
}

// Whether every other thread of this process has run on_thread.
bool all_started() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return true;
    }
    bool all = true;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    const std::lock_guard lock(mutex);
    for (BOOL more = Thread32First(snapshot, &entry); more && all; more = Thread32Next(snapshot, &entry)) {
        all = entry.th32OwnerProcessID != GetCurrentProcessId() || entry.th32ThreadID == GetCurrentThreadId() ||
              started.contains(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return all;
}

// After the last test, before the program ends. A thread that never runs
// the callback costs ten seconds, not a hang.
class ThreadsStarted : public testing::Environment {
    void TearDown() override {
        for (int waited = 0; waited < 10000 && !all_started(); ++waited) {
            Sleep(1);
        }
    }
};

[[maybe_unused]] testing::Environment* const threads_started = testing::AddGlobalTestEnvironment(new ThreadsStarted);

}  // namespace

// The loader calls, for each thread, the callbacks that MinGW's run-time
// gathers from this section into the program's thread-local storage table.
extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK bytemend_on_thread = on_thread;
