// A timeline of the program's start for profiling: with VANDREL_STARTUP_TRACE set in the environment,
// each mark goes to stderr with the milliseconds since the process was started and the processor time of
// the thread that marks it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vandrel {

// Any thread. Costs one check of a cached flag when tracing is off.
void StartupMark(std::string_view step);

// The fields of /proc/PID/stat from the third (the state) on, so field N of proc(5) is at N - 3; the
// command name before them may hold blanks and brackets. `pid` 0 is this process. Empty when unreadable.
std::vector<std::string> ProcessStatFields(int pid);

}  // namespace vandrel
