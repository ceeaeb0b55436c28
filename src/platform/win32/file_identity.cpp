// Whether two files described by the system are one file (see file_identity.h).
#include "platform/win32/file_identity.h"

namespace {

bool index_tells(const file_identity& file) { return file.index_kept && (file.index_high | file.index_low) != 0; }

}  // namespace

bool one_file(const file_identity& a, const file_identity& b, path_match paths) {
    if (paths == path_match::same) return true;
    if (!index_tells(a) || !index_tells(b)) return paths == path_match::unknown;
    return a.volume == b.volume && a.index_high == b.index_high && a.index_low == b.index_low;
}
