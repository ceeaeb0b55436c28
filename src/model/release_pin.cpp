// The release image this build is pinned to: none by default. A build that
// pins one compiles this file with ODD_PINNED_IMAGE naming a header that
// defines PINNED_IMAGE_SIZE and PINNED_IMAGE_SHA256.
#include "model/drive_model.h"

#if defined(ODD_PINNED_IMAGE)
#include ODD_PINNED_IMAGE
#else
#define PINNED_IMAGE_SIZE 0
#define PINNED_IMAGE_SHA256 ""
#endif

const release_image_pin& pinned_release_image() {
    static const release_image_pin pin{PINNED_IMAGE_SIZE, PINNED_IMAGE_SHA256};
    return pin;
}
