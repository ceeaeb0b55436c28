// The exit codes of a run.
#pragma once

// Exit codes of a run with --check or --yes, which a deployment tool acts on
// (an interactive run keeps 0 and 1). When several apply, the most urgent
// wins, in the order of FLEET_URGENCY.
constexpr int EXIT_UP_TO_DATE = 0;            // every drive of this model is up to date, now or after the run
constexpr int EXIT_UPDATE_FAILED = 1;         // an update failed; every drive is back in a working firmware
constexpr int EXIT_USAGE = 2;                 // a wrong argument (any run), or a record that would be the image
constexpr int EXIT_UPDATE_APPLIES = 3;        // --check: an update applies
constexpr int EXIT_NOTHING_HERE = 4;          // no drive of this model, or none this build can update
constexpr int EXIT_TRY_AGAIN_LATER = 5;       // a disc, a drive not ready or unreadable, another run
constexpr int EXIT_IMAGE_REFUSED = 6;         // the image is missing, damaged or not this build's
constexpr int EXIT_LEFT_IN_UPDATE_FIRMWARE = 7;  // a drive is, or may be, in its update firmware: a person is needed
constexpr int FLEET_URGENCY[] = {EXIT_LEFT_IN_UPDATE_FIRMWARE, EXIT_UPDATE_FAILED, EXIT_IMAGE_REFUSED,
                                 EXIT_TRY_AGAIN_LATER,         EXIT_UPDATE_APPLIES, EXIT_NOTHING_HERE,
                                 EXIT_UP_TO_DATE};
// The more urgent of two fleet exit codes.
inline int more_urgent(int a, int b) {
    for (int code : FLEET_URGENCY)
        if (code == a || code == b) return code;
    return a;
}
