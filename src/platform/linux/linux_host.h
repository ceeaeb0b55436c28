// Installs the Linux calls as the platform table. Drive letters D: to Z: stand
// for /dev/sr0 to /dev/sr22; commands reach them through SG_IO.
#pragma once

#include <string>

// Installs the table, after open_missing_standard_descriptors.
void install_linux_host();

// Opens /dev/null onto each of descriptors 0, 1 and 2 that is closed, so that
// no drive's device or image file becomes the console or its input: the
// lowest free descriptor is the one an open takes.
void open_missing_standard_descriptors();

// device_for_path, the map of letters to devices, is in device_map.h.
#include "platform/linux/device_map.h"
