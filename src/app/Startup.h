#pragma once

#include "api/GlobalServices.h"

namespace quorvex {

class FeedLink;
class HeightTracking;
class ServerWindows;

// What every Global reaches beyond the line, from the process's parts; feed
// may be none (no feed status then).
GlobalServices serverServices(HeightTracking &tracking, ServerWindows &windows, FeedLink *feed);

// Start-up and life of the server process; returns its exit status.
//  1. Another process of the program already owns the bus name: end at once.
//  2. Started directly (not by D-Bus activation) with an empty command line:
//     end at once. Any text on the command line lets start-up continue.
//  3. Load the configuration and open the ports.
//  4. With MisuraMedia on, create the server's own instance (and, once it
//     exists, load the sampler window hidden).
//  5. Under systemd, say that the server is ready (SystemdNotifier.h).
// Then serve clients until no instance and no window is left.
// version goes into the start's log line.
int runServer(int argc, char **argv, const char *version);

} // namespace quorvex
