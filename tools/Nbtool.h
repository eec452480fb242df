// The nbtool command line: archives, fonts and game files. Kept in the
// library so that tests drive exactly what the executable runs.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace nb {

struct NbtoolContext {
    std::ostream& out;
    std::ostream& err;
    // Date stamped on archive records the run writes; unset means now. The
    // executable takes it from SOURCE_DATE_EPOCH for reproducible builds.
    std::optional<double> archiveDate;
};

// Runs one command (arguments without the program name). Answers the exit
// status: 0 success, 1 failure, 2 wrong usage.
int RunNbtool(const std::vector<std::string>& args, NbtoolContext& ctx);

}  // namespace nb
