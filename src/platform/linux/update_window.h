// The Linux host's guard around drive updates: every catchable signal whose
// default action ends the process ends the run by way of its notices (the
// drives' media polling given back, those left in their update firmware
// named), and inside a drive's update window it is held until the drive's
// update has ended, as is Ctrl-Z; SIGPIPE and SIGXFSZ are ignored for the
// whole run.
#pragma once

// Installs the signal dispositions and the end-of-run notices (again on a
// later call, harmlessly). A signal the program was started with ignored
// stays ignored.
void guard_updates();

// What is known of `device` ("/dev/sr1"): `in_update_firmware` 1 when it runs,
// or may run, its update firmware; `line` is the notice that names it when
// the run ends, however it ends.
void note_drive_state(const char* device, int in_update_firmware, const char* line);

// `device` went away during the run and was attached again (its kept
// descriptor failed with ENODEV): when it is named as left in its update
// firmware, `line` follows, saying it may now have another name.
void note_drive_detached(const char* device, const char* line);

// Opens a drive's update window; `held_line` is the notice told once when a
// signal is held in it.
void begin_update_window(const char* held_line);
// Closes it. Returns 1 when an ending signal was held meanwhile: the run
// counts and records the drive, then stops before the next one and ends by
// that signal (end_by_held_signal), or, with no drive left, ends as it would
// have without it. A held Ctrl-Z stops the program now. Otherwise returns 0.
int end_update_window();
// Ends the program by the signal held in the last window, its notices
// written, when there is one.
void end_by_held_signal();
// The record's last line for a run a signal ends outside a window (the
// platform call of the same name).
void prepare_last_record(const char* path, const char* line);
// Blocks the signals that end the run while held (nested).
void hold_ways_out(int hold);
// The exit code the run ends with: 128 + N when a signal N held in a window
// stopped it (end_by_held_signal then ends it so), else `exit_code`.
int exit_code_of_run(int exit_code, int stopped_by_interrupt);
