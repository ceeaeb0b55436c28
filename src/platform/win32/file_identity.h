// What makes two names one file on Windows: the volume and the index its file
// system keeps for each file, or, where the index tells nothing, the file's
// full path.
#pragma once

#include <cstdint>

// One file as the system describes it through an open handle.
struct file_identity {
    uint32_t volume = 0;  // the volume's serial number
    uint32_t index_high = 0;
    uint32_t index_low = 0;
    // False where the volume's file system gives no index that stays with the
    // file (FAT: under Windows 95, 98 and Me it may be 0 or change).
    bool index_kept = true;
};

// How the two full paths, in their long form and compared in any case, meet.
enum class path_match { same, different, unknown };

// True when `a` and `b` are one file: their paths are the same, or both
// volumes keep indexes and the volume and index are the same. Where the
// indexes cannot tell (0, or a volume that keeps none), the path alone tells,
// which FAT, having no hard links, allows; and where the path cannot be had
// either, the two are taken for one file, so that a log is never written into
// the image.
bool one_file(const file_identity& a, const file_identity& b, path_match paths);
