// What the drive and the console must see during an update, written out once
// for the tests of the update: CDBs as hex text, the mode block, the progress
// line of a 2 MiB image and the fixed console texts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/virtual_drive.h"

namespace expect {

inline const std::string INQUIRY = "12 00 00 00 60 00";
inline const std::string IDENTITY = "3C 02 F1 00 00 00 00 00 30 00";
inline const std::string STOP = "1B 00 00 00 00 00";
inline const std::string READY = "00 00 00 00 00 00";
inline const std::string ENTER = "3B 04 FF 00 00 00 00 01 00 00";
inline const std::string LEAVE = "3B 05 FF 00 00 00 00 01 00 00";

inline const std::string COMPLETE = "\rProcessing 100% --> Data transfer complete\r\nNow internal re-flashing...";

// Item `i` of what a run produced (its commands, boxes, waits, record lines):
// a run that produced fewer fails the test at hand, saying how many there
// were, and no other test; reading past the end would end them all.
template <class Items>
const typename Items::value_type& item(const Items& items, size_t i) {
    if (i >= items.size())
        throw std::out_of_range("item " + std::to_string(i) + " looked for, " + std::to_string(items.size()) + " there");
    return items[i];
}
template <class Items>
const typename Items::value_type& last(const Items& items) {
    return item(items, items.size() - 1);
}

inline std::string hex(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// The access value a mode block carries (its bytes 16 to 19), as hex text.
inline std::string access_value(const emu::command_record& r) {
    if (r.data_out.size() < 20) return "(no mode block)";
    return hex({r.data_out.begin() + 16, r.data_out.begin() + 20});
}

// WRITE BUFFER mode 7, buffer 0xF0, for one image block.
inline std::string block_cdb(uint32_t offset, uint32_t length) {
    return hex({0x3B, 0x07, 0xF0, uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset), 0x00,
                uint8_t(length >> 8), uint8_t(length), 0x00});
}

// The 256-byte mode block the drive must receive: model string, access value, zeros.
inline std::vector<uint8_t> mode_block(const std::vector<uint8_t>& access_bytes) {
    std::vector<uint8_t> block(256, 0);
    const char model[] = "QUARLEN  KWR-322";
    std::copy(model, model + 16, block.begin());
    std::copy(access_bytes.begin(), access_bytes.end(), block.begin() + 16);
    return block;
}

// Per cent shown before each of the 64 blocks of a 2 MiB image.
inline const int PERCENT_2MIB[64] = {0,  1,  3,  4,  6,  7,  9,  10, 12, 14, 15, 17, 18, 20, 21, 23,
                                     25, 26, 28, 29, 31, 32, 34, 35, 37, 39, 40, 42, 43, 45, 46, 48,
                                     50, 51, 53, 54, 56, 57, 59, 60, 62, 64, 65, 67, 68, 70, 71, 73,
                                     75, 76, 78, 79, 81, 82, 84, 85, 87, 89, 90, 92, 93, 95, 96, 98};

// The transfer's opening line break and the progress lines of its first blocks.
inline std::string progress(int blocks) {
    std::string text = "\n";
    for (int k = 0; k < blocks; ++k) text += "\rProcessing " + std::to_string(PERCENT_2MIB[k]) + "%";
    return text;
}

// Command `number` (1-based) ends with CHECK CONDITION and this sense.
inline emu::injected_fault sense_at(uint32_t number, uint8_t key, uint8_t asc, uint8_t ascq) {
    emu::injected_fault f;
    f.command_number = number;
    f.kind = emu::fault_kind::check_condition;
    f.key = key;
    f.asc = asc;
    f.ascq = ascq;
    return f;
}

// Command `number` (1-based) fails another way: lost on its way, timed out, busy.
inline emu::injected_fault lost_at(uint32_t number, emu::fault_kind kind) {
    emu::injected_fault f;
    f.command_number = number;
    f.kind = kind;
    return f;
}

}  // namespace expect
