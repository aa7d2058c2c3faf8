// SPDX-License-Identifier: MIT
// Command-line host: loads a tool module file as the host does, activates its server against a
// small built-in scene, plays the demo session for that tool, and prints the trace of every call
// between host and module followed by every key written.
//
//   zendro_host <module file> [--quiet]      --quiet prints the keys only
#include <cstdio>
#include <cstring>
#include <string>

#include "apps/sessions.h"

int main(int argc, char **argv) {
    const char *path = nullptr;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--quiet") == 0) quiet = true;
        else if (!path) path = argv[i];
    }
    if (!path) {
        std::fprintf(stderr, "usage: %s <module file> [--quiet]\n", argv[0]);
        return 2;
    }

    sim::Host host;
    host.trace().enable(!quiet);
    sim::Module module(path);
    if (!module.ok()) {
        std::fprintf(stderr, "%s: %s\n", path, module.error().c_str());
        return 1;
    }
    if (module.server_count() == 0) {
        std::fprintf(stderr, "%s: the module lists no server\n", path);
        return 1;
    }
    const std::string server = module.servers()[0]->server_name ? module.servers()[0]->server_name : "";
    const demo::Session *session = demo::find_session(server);
    if (!session) {
        std::fprintf(stderr, "%s: no demo session for server \"%s\"\n", path, server.c_str());
        return 1;
    }

    std::printf("== %s: server \"%s\" (%s)\n", path, server.c_str(), session->summary);
    module.startup();
    demo::build_scene(host);
    int status = 0;
    {
        sim::Tool tool(host, module);
        const int32_t result = tool.activate();
        std::printf("activation -> %d\n", static_cast<int>(result));
        if (result != 0) {
            status = 1;
        } else {
            session->play(host, tool);
            tool.release();
        }
    }
    module.shutdown();

    if (!quiet) {
        std::printf("\n-- trace\n%s", host.trace().text().c_str());
    }
    demo::print_keys(host);
    if (!host.clean()) {
        std::printf("\n-- violations\n%s", host.report(0).c_str());
        status = 1;
    }
    std::printf("\n%zu keys written, %zu violations\n", host.writes().size(), host.violations().size());
    return status;
}
