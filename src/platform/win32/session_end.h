// The end of the session (a logoff, a shutdown) heard for the whole run, and
// held while a drive's update is under way.
#pragma once

// Starts, once, a thread with a hidden top-level window that hears the end of
// the session for the rest of the process; returns at once, without waiting
// for the window. `on_session_end` runs on that thread when the session ends
// all the same (every program agreed, or a forced shutdown); it may end the
// process.
void hear_session_end(void (*on_session_end)());

// Before the process ends: waits, 2 s at most, until the window is made or
// cannot be, so that a run that ends at once never ends the window's thread
// in the middle of making it.
void settle_session_window();

// Holds (true) or lets go (false) the end of the session: while held, the
// window answers that the session may not end yet.
void hold_session_end(bool hold);
