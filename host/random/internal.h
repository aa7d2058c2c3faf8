// SPDX-License-Identifier: MIT
// What the pieces of the random sessions share among themselves (not for users of
// host/random/random.h): the value draws of the generator, playing one statement of a session,
// and the words and script files that pass between the validator and its session workers.
#ifndef HOST_RANDOM_INTERNAL_H
#define HOST_RANDOM_INTERNAL_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/player/player.h"
#include "host/random/random.h"

namespace sim {

// ---- Values chosen to hurt (rng.cpp) -----------------------------------------------------------
// A double: ordinary most of the time, a hurting one often, non-finite sometimes (unless
// `finite_only`). Every draw is an integer draw, so a seed gives the same values everywhere.
double random_real(Rng &r, bool finite_only = false);
// An integer: ordinary most of the time, otherwise 0, ±1, ... and the int32 limits.
int64_t random_int(Rng &r);

// ---- Playing a session (replay.cpp) ------------------------------------------------------------
PlayerOptions session_player_options(const RandomSessionOptions &o);
// Loads the module into the player; when it does not load, the session fails with the loader's
// message (id module-load) and is marked as a load failure.
bool load_session_module(Player &player, const std::string &module_path, SessionResult &res);
// Plays statement `index` (0-based) of the session and records every new violation and warning
// id into `res`; a step the host would never send now is counted impossible and not played.
// An activation's answer becomes its statement's "expect", so the kept script replays without
// failed expectations.
void play_session_statement(Player &player, Statement &st, size_t index, SessionResult &res, std::FILE *progress);
// Ends the session (release, leak check) and records what that shows.
void finish_session(Player &player, SessionResult &res, std::FILE *progress);

// ---- Between the validator and its session workers (worker.cpp, parent.cpp) ----------------------
// The words of a session worker: KIND MODULE SEED STEPS CHANNELS SERVER LOADING ("reset" or
// "reload"), then the kind's own.
std::vector<std::string> session_worker_words(const char *kind, const std::string &module,
                                              const RandomSessionOptions &o);
// A session script file a shrinking worker reads and the validator writes.
bool read_script_file(const std::string &path, std::vector<Statement> *out);
bool write_script_file(const std::string &path, const std::vector<Statement> &s);

} // namespace sim

#endif // HOST_RANDOM_INTERNAL_H
