// SPDX-License-Identifier: MIT
// Demo sessions of the command-line host: a built-in scene and, per tool server, a short session a
// user might play (drags in the viewports, panel edits, "Apply").
#ifndef APPS_SESSIONS_H
#define APPS_SESSIONS_H

#include <string>

#include "host/simulator.h"

namespace demo {

struct Session {
    const char *server;  // server name the session drives
    const char *summary; // one line for the header
    void (*play)(sim::Host &host, sim::Tool &tool);
};

// The session for a server name, or null.
const Session *find_session(const std::string &server);

// Three items, two selected, at time 1: "Cube" at (1, 0, 0), "Cone" at (0, 2, 1) and "Lamp" at
// (-1, 3, 0) with a key already at the current time.
void build_scene(sim::Host &host);

// Every key written by the session, per item and channel, in write order.
void print_keys(const sim::Host &host);

} // namespace demo

#endif // APPS_SESSIONS_H
