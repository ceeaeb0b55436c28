// The options of a run for many machines, the same on every host: --check
// (judge every drive, change none), --yes (the unattended run, consent given
// in advance), --log FILE (a record of every drive), --image PATH (the image
// file read from PATH instead of the current folder), --sha256 HEX (the
// digest the image must have). Windows takes /check, /yes, /log:FILE,
// /image:PATH and /sha256:HEX as well. Without them a run is the dialogue of
// old.
#pragma once

#include <string>

struct run_options {
    bool check = false;
    bool yes = false;
    std::string log;    // empty: no record; "-": standard output
    std::string image;  // empty: the model's image file in the current folder
    std::string sha256;  // empty: none given; else 64 hexadecimal digits
    std::string record;  // empty: none; else the file the check writes this machine's record to
};

extern run_options options;

// Reads the arguments after the program's name: 0, or with `refused` what
// was refused: OPTION_UNKNOWN (the argument: no option, --log or --image
// without a file name: nothing, or what starts like an option, or --sha256
// without 64 hexadecimal digits),
// OPTION_CONTRADICTS (the argument: an option given again, or --check with
// --yes) or OPTION_TOO_LONG (the path itself: an image path longer than the
// descriptor's image file name holds). `slash_forms`: Windows' /check, /yes,
// /log:FILE, /image:PATH, /sha256:HEX as well, and every option in any case. A log named
// "-" is standard output.
constexpr int OPTION_UNKNOWN = -1;
constexpr int OPTION_CONTRADICTS = -2;
constexpr int OPTION_TOO_LONG = -3;
int parse_options(int argc, char** argv, bool slash_forms, std::string& refused);

void reset_options();
