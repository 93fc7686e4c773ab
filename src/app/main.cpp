// quorvexd: the Quorvex server process.
#include "app/Startup.h"
#include "common/AppFolders.h"

#include <cstdio>
#include <cstring>

#ifndef QUORVEX_VERSION
#define QUORVEX_VERSION "unknown"
#endif

namespace {

bool hasArgument(int argc, char **argv, const char *word)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], word) == 0)
            return true;
    return false;
}

// --help and --version print and end without starting a server; any other
// command line goes to the server's start-up.
bool printInformation(int argc, char **argv)
{
    if (hasArgument(argc, argv, "--version")) {
        std::printf("quorvexd %s\n", QUORVEX_VERSION);
        return true;
    }
    if (!hasArgument(argc, argv, "--help") && !hasArgument(argc, argv, "-h"))
        return false;
    std::printf("Usage: quorvexd [argument...]\n"
                "       quorvexd --help | --version\n"
                "\n"
                "Automation server of a coiling line: owns the serial ports of the line's\n"
                "instruments and serves their readings on the D-Bus session bus as\n"
                "com.velkaro.Quorvex. Usually started by D-Bus activation when a client\n"
                "first calls it. Started by hand it runs only with a non-empty command\n"
                "line (e.g. quorvexd --serve); with none it ends at once.\n"
                "\n"
                "Settings: $XDG_CONFIG_HOME/%s/%s.ini\n",
                quorvex::kOrganization, quorvex::kApplication);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (printInformation(argc, argv))
        return 0;
    return quorvex::runServer(argc, argv, QUORVEX_VERSION);
}
