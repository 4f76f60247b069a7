#pragma once

// How the process starts, which differs between systems (Windows' command
// line above all); each system's source file gives it.

namespace bytemend {

// Sets the process up for one run, in the one call that main makes first:
// - the arguments, in argc and argv, each exactly as typed (Windows' from
//   its wide command line: see platform_windows.cpp);
// - the standard descriptors: a closed one is opened on the null device, so
//   that no file of the run takes its number and gets the report;
// - the signals that would end a run silently (a reader gone from the pipe,
//   a file past the size limit) are ignored, so that the call fails and the
//   run says so.
// False, once it has said why, where there are no arguments to run with.
bool start_process(int& argc, char**& argv);

}  // namespace bytemend
