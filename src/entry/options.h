// The options of a run for many machines, the same on every host: --check
// (judge every drive, change none), --yes (the unattended run, consent given
// in advance), --log FILE (a record of every drive). Windows takes /check,
// /yes and /log:FILE as well. Without them a run is the dialogue of old.
#pragma once

#include <string>

struct run_options {
    bool check = false;
    bool yes = false;
    std::string log;  // empty: no record; "-": standard output
};

extern run_options options;

// Reads the arguments after the program's name: 0, or with `refused` the
// argument refused, OPTION_UNKNOWN (no option, or --log without a file name:
// nothing, or what starts like an option) or OPTION_CONTRADICTS (an option
// given again, or --check with --yes). `slash_forms`: Windows' /check, /yes,
// /log:FILE as well, and every option in any case. A log named "-" is
// standard output.
constexpr int OPTION_UNKNOWN = -1;
constexpr int OPTION_CONTRADICTS = -2;
int parse_options(int argc, char** argv, bool slash_forms, std::string& refused);

void reset_options();
