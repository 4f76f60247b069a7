#pragma once

namespace bytemend {

// Sets the process up for one run, first thing in main: the arguments as
// typed (Windows' command line); a closed standard descriptor opened on the
// null device, lest a file of the run take its number and get the report;
// the signals that would end a run silently ignored, so that the call fails
// and says so. False, once said why, where there are no arguments.
bool start_process(int& argc, char**& argv);

}  // namespace bytemend
