// nbplayer: plays a point-and-click game file.
#include <cstdio>
#include <iostream>

#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "platform/Memory.h"

int main(int argc, char** argv) {
    nb::TuneProcessHeap();
    nb::PlayerOptions options;
    std::string error;
    if (!nb::ParseCommandLine(argc, argv, options, error)) {
        std::cerr << "nbplayer: " << error << "\n";
        return 2;
    }
    if (options.showHelp) {
        std::cout << nb::HelpText();
        return 0;
    }
    if (options.showVersion) {
        std::cout << nb::VersionText();
        return 0;
    }
    nb::TFormMain form(std::move(options));
    return form.Run();
}
