# cmake -DIMAGE=FILE -DOUT=HEADER -P pin_image.cmake: the header that pins a
# build to the image FILE (its size and SHA-256), for src/model/release_pin.cpp.
file(SIZE ${IMAGE} size)
file(SHA256 ${IMAGE} digest)
file(WRITE ${OUT}.part "#define PINNED_IMAGE_SIZE ${size}u\n#define PINNED_IMAGE_SHA256 \"${digest}\"\n")
file(RENAME ${OUT}.part ${OUT})
