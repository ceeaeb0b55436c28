// The Linux host's notices; the Japanese texts are code page 932 bytes with
// the readable text beside each.
#include "platform/linux/host_notices.h"

namespace {

const char* const ENGLISH[] = {
    "odd-fwupdate: the update of %s cannot be interrupted; the program stops when it is done\n",
    "odd-fwupdate: access to %s was refused: run as root, or with write access to %s and the CAP_SYS_RAWIO "
    "capability\n",
    "odd-fwupdate: %s cannot be updated without the CAP_SYS_RAWIO capability: run as root, or give the program the "
    "capability (setcap cap_sys_rawio+ep odd-fwupdate)\n",
    "odd-fwupdate: device No.%d: %c: = %s\n",
};

const char* const JAPANESE[] = {
    // "odd-fwupdate: %s の更新は中断できません。更新が終わりしだいプログラムを終了します"
    "odd-fwupdate: %s \x82\xCC\x8DX\x90V\x82\xCD\x92\x86\x92" "f\x82\xC5\x82\xAB\x82\xDC\x82\xB9\x82\xF1\x81"
    "B\x8DX\x90V\x82\xAA\x8FI\x82\xED\x82\xE8\x82\xB5\x82\xBE\x82\xA2\x83v\x83\x8D\x83O\x83\x89\x83\x80\x82\xF0"
    "\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7\n",
    // "odd-fwupdate: %s へのアクセスが拒否されました。root で実行するか、%s への書き込み権限と CAP_SYS_RAWIO 権限を与えてください"
    "odd-fwupdate: %s \x82\xD6\x82\xCC\x83" "A\x83N\x83Z\x83X\x82\xAA\x8B\x91\x94\xDB\x82\xB3\x82\xEA\x82\xDC\x82\xB5"
    "\x82\xBD\x81" "Broot \x82\xC5\x8E\xC0\x8Ds\x82\xB7\x82\xE9\x82\xA9\x81" "A%s \x82\xD6\x82\xCC\x8F\x91\x82\xAB"
    "\x8D\x9E\x82\xDD\x8C\xA0\x8C\xC0\x82\xC6 CAP_SYS_RAWIO \x8C\xA0\x8C\xC0\x82\xF0\x97^\x82\xA6\x82\xC4\x82\xAD"
    "\x82\xBE\x82\xB3\x82\xA2\n",
    // "odd-fwupdate: %s は CAP_SYS_RAWIO 権限がないと更新できません。root で実行するか、プログラムに権限を与えてください (setcap ...)"
    "odd-fwupdate: %s \x82\xCD CAP_SYS_RAWIO \x8C\xA0\x8C\xC0\x82\xAA\x82\xC8\x82\xA2\x82\xC6\x8DX\x90V\x82\xC5\x82"
    "\xAB\x82\xDC\x82\xB9\x82\xF1\x81" "Broot \x82\xC5\x8E\xC0\x8Ds\x82\xB7\x82\xE9\x82\xA9\x81" "A\x83v\x83\x8D\x83O"
    "\x83\x89\x83\x80\x82\xC9\x8C\xA0\x8C\xC0\x82\xF0\x97^\x82\xA6\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2 (setcap "
    "cap_sys_rawio+ep odd-fwupdate)\n",
    // "odd-fwupdate: %d台目のドライブ: %c: = %s"
    "odd-fwupdate: %d\x91\xE4\x96\xDA\x82\xCC\x83h\x83\x89\x83" "C\x83u: %c: = %s\n",
};

}  // namespace

const char* host_notice_text(host_notice notice, bool japanese) {
    return (japanese ? JAPANESE : ENGLISH)[static_cast<int>(notice)];
}
