// What /proc says of the machine's and a process's CPU time, for the engine benchmarks.
#pragma once

#include <utility>

namespace bench {

// Idle and total jiffies of the whole machine so far.
std::pair<double, double> machineTicks();
// User + system CPU seconds a process has used so far.
double processCpuSeconds(int pid);

} // namespace bench
