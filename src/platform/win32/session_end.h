// The update window against the end of the session: a shutdown or a logoff
// asked while a drive's update is under way waits for it.
#pragma once

// Holds (true) or lets go (false) the end of the session. The first hold
// starts a thread with a hidden window that answers WM_QUERYENDSESSION;
// `on_session_end` runs if the session ends all the same (a forced shutdown).
void hold_session_end(bool hold, void (*on_session_end)());
