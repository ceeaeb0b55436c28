// Tests of the image builder: header fields land byte for byte where the
// updater reads them, and every other byte is a seeded body byte.
#include "tools/make-image/image_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>

namespace {

const header_field all_fields[] = {vendor_product_field, version_field, hardware_revision_field,
                                   image_vendor_field, second_vendor_field, part_kind_field, date_field};

std::string text_at(const std::vector<uint8_t>& image, header_field field) {
    return std::string(image.begin() + field.offset, image.begin() + field.offset + field.width);
}

bool in_a_field(uint32_t offset) {
    for (header_field f : all_fields)
        if (offset >= f.offset && offset < f.offset + f.width) return true;
    return false;
}

image_fields small(uint32_t seed = 1) {
    image_fields fields;
    fields.size = 0x1000;
    fields.seed = seed;
    return fields;
}

}  // namespace

TEST(image_builder, writes_each_field_at_its_offset) {
    image_fields fields;
    fields.date = "Jul25 2008";
    std::vector<uint8_t> image = build_image(fields);
    ASSERT_EQ(image.size(), 2u * 1024 * 1024);
    EXPECT_EQ(text_at(image, vendor_product_field), "QUARLEN DVD-RW  KWR-322 ");
    EXPECT_EQ(text_at(image, version_field), "1.28 ");
    EXPECT_EQ(text_at(image, hardware_revision_field), "ATAPI123");
    EXPECT_EQ(text_at(image, image_vendor_field), "QUA_ADV ");
    EXPECT_EQ(text_at(image, second_vendor_field), "QUA_ADV ");
    EXPECT_EQ(image[0x110], 'N');
    EXPECT_EQ(text_at(image, date_field), "Jul25 2008");
}

TEST(image_builder, pads_and_truncates_fields_without_touching_neighbours) {
    image_fields fields = small();
    fields.version = "2.0";
    fields.hardware_revision = "ATAPI123456";
    fields.image_vendor = "";
    fields.second_vendor = "QUA_ADV_LONGER";
    fields.part_kind = 'U';
    fields.date = "08/07/25 and more";
    std::vector<uint8_t> image = build_image(fields);
    EXPECT_EQ(text_at(image, version_field), "2.0  ");
    EXPECT_EQ(text_at(image, hardware_revision_field), "ATAPI123");
    EXPECT_EQ(text_at(image, image_vendor_field), "        ");
    EXPECT_EQ(text_at(image, second_vendor_field), "QUA_ADV_");
    EXPECT_EQ(image[0x110], 'U');
    EXPECT_EQ(text_at(image, date_field), "08/07/25 a");
    std::vector<uint8_t> plain = build_image(small());
    for (uint32_t i = 0; i < image.size(); ++i) {
        if (in_a_field(i)) continue;
        ASSERT_EQ(image[i], plain[i]) << "offset " << i;
    }
}

TEST(image_builder, body_depends_on_seed_and_offset_only) {
    image_fields other = small();
    other.vendor_product = "Lumaris DVD-RW  LX-9    ";
    other.date = "Dec01 1999";
    std::vector<uint8_t> a = build_image(small(1)), b = build_image(small(2)), c = build_image(other);
    EXPECT_EQ(a, build_image(small(1)));
    uint32_t differing = 0, body = 0;
    for (uint32_t i = 0; i < a.size(); ++i) {
        if (in_a_field(i)) continue;
        ++body;
        ASSERT_EQ(a[i], body_byte(1, i)) << "offset " << i;
        ASSERT_EQ(c[i], a[i]) << "offset " << i;
        differing += a[i] != b[i];
    }
    // A stuck or repeating body would hide a transfer error; a random pair of
    // bytes matches 1 time in 256.
    EXPECT_GT(differing, body * 95 / 100);
    std::set<uint8_t> distinct_in_prefix(a.begin(), a.begin() + 0x60);
    EXPECT_GT(distinct_in_prefix.size(), 40u);
}

TEST(image_builder, size_inside_the_header_cuts_it_off) {
    std::vector<uint8_t> full = build_image(small());
    for (uint32_t size : {0u, 0x10u, 0x92u, 0x111u, 0x135u}) {
        image_fields fields = small();
        fields.size = size;
        std::vector<uint8_t> image = build_image(fields);
        ASSERT_EQ(image.size(), size);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), full.begin())) << "size " << size;
    }
}

TEST(image_builder, date_forms) {
    EXPECT_EQ(month_name_date("Jul", 25, 2008), "Jul25 2008");
    EXPECT_EQ(month_name_date("January", 5, 999), "Jan05 0999");
    EXPECT_EQ(month_name_date("X", 0, 0), "X  00 0000");
    EXPECT_THROW(month_name_date("Jul", 100, 2008), std::invalid_argument);
    EXPECT_THROW(month_name_date("Jul", 1, 10000), std::invalid_argument);

    image_fields fields = small();
    fields.date = month_name_date("Jul", 25, 2008);
    std::vector<uint8_t> image = build_image(fields);
    auto at = [&](uint32_t from, uint32_t to) { return std::string(image.begin() + from, image.begin() + to + 1); };
    EXPECT_EQ(at(0x130, 0x132), "Jul");
    EXPECT_EQ(at(0x133, 0x134), "25");
    EXPECT_EQ(at(0x136, 0x137), "20");
    EXPECT_EQ(at(0x138, 0x139), "08");

    // The short numeric form leaves the last two bytes of the date area to the body.
    image = build_image(small());
    EXPECT_EQ(at(0x130, 0x137), "08/07/25");
    EXPECT_EQ(image[0x138], body_byte(1, 0x138));
    EXPECT_EQ(image[0x139], body_byte(1, 0x139));
}

TEST(image_builder, writes_the_built_bytes_to_a_file) {
    std::string path = testing::TempDir() + "image_builder_test.bin";
    ASSERT_TRUE(write_image_file(path, small(7)));
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(read, build_image(small(7)));
    std::remove(path.c_str());
    EXPECT_FALSE(write_image_file(testing::TempDir() + "no/such/dir/image.bin", small()));
#ifdef __linux__
    // Opens fine but every write fails, as on a full disk.
    EXPECT_FALSE(write_image_file("/dev/full", small()));
#endif
}
