#pragma once

// How the process starts, which differs between systems (Windows' command
// line above all); each system's source file gives it.

namespace bytemend {

// Sets the process up for one run, and gives the command's arguments as
// typed in argc and argv. A standard descriptor that is closed is opened on
// the null device, so that no file of the run takes its number and gets the
// report; signals that would end a run silently (a pipe whose reader has
// gone, a file grown past the size limit) become errors that are reported.
// On Windows the arguments come from the wide command line, each name
// exactly as typed (see platform_windows.cpp). False, once it has said why,
// where there are no arguments to run with.
bool start_process(int& argc, char**& argv);

}  // namespace bytemend
