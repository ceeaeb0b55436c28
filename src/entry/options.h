// The options of a run for many machines, the same on every host: --check
// (judge every drive, change none), --yes (the unattended run, consent given
// in advance), --log FILE (a record of every drive). Windows takes /check,
// /yes and /log:FILE as well. Without them a run is the dialogue of old.
#pragma once

#include <string>

struct run_options {
    bool check = false;
    bool yes = false;
    std::string log;  // empty: no record
};

extern run_options options;

// Reads the arguments after the program's name. 0, or -1 with `refused` the
// argument that is no option (or an option without its file).
int parse_options(int argc, char** argv, bool slash_forms, std::string& refused);

void reset_options();
