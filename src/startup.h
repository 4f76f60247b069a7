#pragma once

// How the process starts, which differs between systems (Windows' command
// line above all); each system's source file gives it.

namespace bytemend {

// Sets the process up for one run, in the one call that main makes first:
// - the arguments, each exactly as typed (see windows_command_line.cpp);
// - a closed standard descriptor opened on the null device, so that no file
//   of the run takes its number and gets the report;
// - the signals that would end a run silently (a reader gone from the pipe,
//   a file past the size limit) ignored, so that the call fails and says so.
// False, once it has said why, where there are no arguments to run with.
bool start_process(int& argc, char**& argv);

}  // namespace bytemend
