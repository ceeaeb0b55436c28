// What the user must read, written out once for the tests: the banner, every
// English catalogue text as the technician sees it (arguments still as their
// placeholders), and the style of each kind of box.
#pragma once

#include <string>

#include "platform/win_types.h"

namespace expect {

inline const std::string BANNER = "\n/// ODD Firmware Update Utility Ver2.57C\n";

struct catalogue_row {
    int code;
    const char* text;
};

inline const catalogue_row ENGLISH_CATALOGUE[] = {
    {0, "\nFailed to get a drive information."},
    {1, "\nHardware Revision is not matched."},
    {3, "\nModel name of normal part is not matched."},
    {5, "\nDisc is inserted into DVD-RW.\nPlease eject a disc."},
    {6, "\nError : Drive is now becoming ready.\nPlease eject the disc"},
    {7, "\nError : Unknown Error is occurred."},
    {9, "\nFailed to execute Inquiry Command."},
    {11, "\r\nFailed to load binary file.\r\n(File Name : %.12s)"},
    {12, "\nSuccess to update the firmware."},
    {14, "\nFailed to move to the kernel mode."},
    {15, "\nFailed to move to the normal mode."},
    {28, "\r\nAvailable target is not found."},
    {31, "\r\n%d target device(s) is found.\r\nDo you want to update all drives ?"},
    {34, "\r\nStart updating the device No.%d."},
    {35, "\r\nUpdate operation is completed."},
    {36, "\r\nUpdate program is terminated by occuring an error.\r\n"},
    {37, "\r\nModel name of kernel part is not macthed."},
    {40, "\r\nSelected file is illegal fw file."},
    {42, "\r\nFailed to update the normal part."},
    {44, "\r\nNow internal rebooting with new firmware...."},
    {47, "\nFailed to move to the normal mode.\r\nDo you retry to update ?"},
    {48, "\r\nDetect the Intel's IDE driver."},
    {52, "\r\nDetect the IEEE1394 interface."},
    {54, "\r\nFW is already latest."},
    {58, "\r\n%ddrive(s) have been updated successfully."},
    {61, "\r\nNow updating the firmware.\r\nPlease do not turn off the power and do not reset the pc."},
    {69, "\r\nSelected file is too old fw file."},
    {82, "\r\nDo you want to update the F/W\r\nFrom : %.24s %.5s (20%.8s)\r\nTo : %.24s %.5s (20%.8s)"},
};

// The English text of `code`; empty for a code the updater never shows.
inline std::string english(int code) {
    for (const catalogue_row& row : ENGLISH_CATALOGUE)
        if (row.code == code) return row.text;
    return {};
}

// The box of each dialogue kind: buttons and icon.
constexpr UINT QUESTION_STYLE = 0x24;  // Yes and No, question mark
constexpr UINT ERROR_STYLE = 0x10;     // OK, stop sign
constexpr UINT INFO_STYLE = 0x40;      // OK, information
constexpr UINT WARNING_STYLE = 0x30;   // OK, exclamation mark

}  // namespace expect
