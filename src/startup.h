#pragma once

namespace bytemend {

// Sets the process up for one run, first thing in main, in each system's
// source file: the arguments as typed (Windows' command line); a closed
// standard descriptor opened on the null device, lest a file of the run
// take its number and get the report; the signals that would end a run
// silently (a reader gone, a file past the size limit) ignored, so that
// the call fails and says so. False, once said why, where there are no
// arguments to run with.
bool start_process(int& argc, char**& argv);

}  // namespace bytemend
