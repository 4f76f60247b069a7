#pragma once

// How the process starts, which differs between systems (Windows' command
// line above all); each system's source file gives it.

namespace bytemend {

// Sets the process up for one run, all of it in this one call that main
// makes first, and gives the command's arguments as typed in argc and argv.
// - The arguments: Windows' come from the wide command line, each name
//   exactly as typed, and a pattern in one of the two file names stands for
//   the one file it matches (see platform_windows.cpp); elsewhere they are
//   as typed already.
// - The standard descriptors: one that is closed is opened on the null
//   device, so that no file of the run takes its number and gets the
//   report. Windows' C runtime keeps such a descriptor taken itself.
// - The signals: those that would end a run silently (a pipe whose reader
//   has gone, a file grown past the size limit) are ignored where the
//   system has them, so that the call fails and the run reports it.
// - The console is left as it is: put_text writes to it through the wide
//   calls, whatever its code page.
// False, once it has said why on standard output, where there are no
// arguments to run with: a pattern that matches more than one file, or no
// memory to hold them.
bool start_process(int& argc, char**& argv);

}  // namespace bytemend
