// Installs the real Windows calls as the platform table.
#pragma once

void install_win32_host();
// Names the drives left in their update firmware, once: the run's last words.
void end_win32_run();
