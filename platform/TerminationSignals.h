// Requests to end the program from outside (SIGTERM from the session,
// SIGINT from a terminal, SIGHUP when the terminal goes), turned into
// something the main loop can watch, so that the program shuts down
// normally (ending its players, deleting its scratch files) instead of
// dying on the spot.
#pragma once

namespace corvyn::platform {

// Installs handlers for SIGTERM, SIGINT and SIGHUP (once per process) and
// returns a descriptor that becomes readable when one of them arrives (empty
// it with DrainTerminationSignals). -1 when the pipe cannot be made (the
// signals then keep their default action).
int TerminationSignalDescriptor();

// Reads and discards what the descriptor holds; returns how many requests
// had arrived.
int DrainTerminationSignals();

}  // namespace corvyn::platform
