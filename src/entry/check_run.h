// The check of every drive (--check).
#pragma once

// One line each on the console, nothing sent that changes a drive. 0 none
// needs the update, 3 some do, 1 no drive or no image.
int check_run();
