// Installs the real Windows calls as the platform table.
#pragma once

void install_win32_host();
