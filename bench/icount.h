#pragma once

// Instruction counts of the workloads under callgrind: on this shared two-core machine wall-clock
// figures move by tens of percent between runs, the instructions a process executes do not.
//
// The parent (`qix_bench --icount`) runs the program twice under callgrind, once per workload
// size, each child running every benchmark body once with instrumentation switched on around it
// and dumping its count. Fixed costs (connecting, dictionary and field queries, statement
// preparation) are the same at both sizes, so the difference of the two counts over the difference
// of the two item counts is what one row, byte or component costs.

#include "bench.h"

#include <functional>
#include <string>
#include <vector>

namespace qix::bench {

/// The two sizes of the instruction counts (index 0 and 1).
[[nodiscard]] Sizes icount_sizes(int which);

/// True in a child started by the parent: bodies run once, instrumented.
[[nodiscard]] bool icount_child();
/// Makes this process a child writing its results into `folder`.
void start_icount_child(const std::string& folder);

/// Runs `body`; in a child, the first run of each benchmark is counted and dumped under its name.
void counted(const std::string& name, const std::function<void()>& body);

/// Writes "<benchmark>\t<items>" (or "<benchmark>\terror\t<message>") per benchmark into the
/// child's folder.
void write_icount_items(const std::vector<std::pair<std::string, std::string>>& lines);

/// The parent: runs both children with `arguments` (benchmark filters) under valgrind and prints
/// the table of instructions per item with the ratio to each baseline. Returns the exit code.
int run_icount(const std::string& self_path, const std::vector<std::string>& arguments);

} // namespace qix::bench
