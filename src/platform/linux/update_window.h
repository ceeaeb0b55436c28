// The Linux host's guard around drive updates: SIGINT, SIGTERM, SIGHUP and
// SIGQUIT are held while a drive is in its update window and stop the program
// once its update has ended, SIGPIPE is ignored for the whole run, and when the
// run ends, however it ends, the drives' media polling is given back and those
// left in their update firmware are named.
#pragma once

// Installs the signal dispositions and the end-of-run notices (again on a
// later call, harmlessly). A signal the program was started with ignored
// stays ignored.
void guard_updates();

// Opens the update window of `device` ("/dev/sr1").
void begin_update_window(const char* device);
// Closes it, noting whether the drive is left in its update firmware. When a
// signal was held meanwhile the notices are written and the program ends by
// that signal, as it would have without the window; otherwise returns 0.
int end_update_window(int left_in_update_firmware);

// True once any drive's update window has opened.
bool any_update_begun();
