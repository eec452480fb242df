// nbtool: builds and dumps game files, packs and extracts resource archives,
// bakes bitmap fonts. "nbtool --help" lists the commands.
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "tools/ArchiveWriter.h"
#include "tools/Nbtool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    nb::NbtoolContext ctx{std::cout, std::cerr, std::nullopt};
    // Reproducible builds fix the date stamped on archive records.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH")) {
        long long seconds = 0;
        auto r = std::from_chars(epoch, epoch + std::strlen(epoch), seconds);
        if (r.ec == std::errc() && *r.ptr == '\0') ctx.archiveDate = nb::ArchiveDateFromUnix(seconds);
    }
    return nb::RunNbtool(args, ctx);
}
