// The message catalogue in both languages. The Japanese texts are stored as
// their code page 932 bytes and written out unconverted; the readable text
// stands beside each. Slots left out are null and read as an unknown code.
#include "messages/messages.h"

const char* const unknown_message_text = "\r\nUnknow Message Code\r\n";

const char* const english_catalogue[MESSAGE_CODE_LIMIT + 1] = {
    /* 0 */ "\nFailed to get a drive information.",
    /* 1 */ "\nHardware Revision is not matched.",
    /* 2 */ nullptr,
    /* 3 */ "\nModel name of normal part is not matched.",
    /* 4 */ nullptr,
    /* 5 */ "\nDisc is inserted into DVD-RW.\nPlease eject a disc.",
    /* 6 */ "\nError : Drive is now becoming ready.\nPlease eject the disc",
    /* 7 */ "\nError : Unknown Error is occurred.",
    /* 8 */ nullptr,
    /* 9 */ "\nFailed to execute Inquiry Command.",
    /* 10 */ nullptr,
    /* 11 */ "\r\nFailed to load binary file.\r\n(File Name : %.12s)",
    /* 12 */ "\nSuccess to update the firmware.",
    /* 13 */ nullptr,
    /* 14 */ "\nFailed to move to the kernel mode.",
    /* 15 */ "\nFailed to move to the normal mode.",
    /* 16 */ nullptr,
    /* 17 */ nullptr,
    /* 18 */ nullptr,
    /* 19 */ nullptr,
    /* 20 */ nullptr,
    /* 21 */ nullptr,
    /* 22 */ nullptr,
    /* 23 */ nullptr,
    /* 24 */ nullptr,
    /* 25 */ nullptr,
    /* 26 */ nullptr,
    /* 27 */ nullptr,
    /* 28 */ "\r\nAvailable target is not found.",
    /* 29 */ nullptr,
    /* 30 */ nullptr,
    /* 31 */ "\r\n%d target device(s) is found.\r\nDo you want to update all drives ?",
    /* 32 */ nullptr,
    /* 33 */ nullptr,
    /* 34 */ "\r\nStart updating the device No.%d.",
    /* 35 */ "\r\nUpdate operation is completed.",
    /* 36 */ "\r\nUpdate program is terminated by occuring an error.\r\n",
    /* 37 */ "\r\nModel name of kernel part is not macthed.",
    /* 38 */ nullptr,
    /* 39 */ nullptr,
    /* 40 */ "\r\nSelected file is illegal fw file.",
    /* 41 */ nullptr,
    /* 42 */ "\r\nFailed to update the normal part.",
    /* 43 */ nullptr,
    /* 44 */ "\r\nNow internal rebooting with new firmware....",
    /* 45 */ nullptr,
    /* 46 */ nullptr,
    /* 47 */ "\nFailed to move to the normal mode.\r\nDo you retry to update ?",
    /* 48 */ "\r\nDetect the Intel's IDE driver.",
    /* 49 */ nullptr,
    /* 50 */ nullptr,
    /* 51 */ nullptr,
    /* 52 */ "\r\nDetect the IEEE1394 interface.",
    /* 53 */ nullptr,
    /* 54 */ "\r\nFW is already latest.",
    /* 55 */ nullptr,
    /* 56 */ nullptr,
    /* 57 */ nullptr,
    /* 58 */ "\r\n%ddrive(s) have been updated successfully.",
    /* 59 */ nullptr,
    /* 60 */ nullptr,
    /* 61 */ "\r\nNow updating the firmware.\r\nPlease do not turn off the power and do not reset the pc.",
    /* 62 */ nullptr,
    /* 63 */ nullptr,
    /* 64 */ nullptr,
    /* 65 */ nullptr,
    /* 66 */ nullptr,
    /* 67 */ nullptr,
    /* 68 */ nullptr,
    /* 69 */ "\r\nSelected file is too old fw file.",
    /* 70 */ nullptr,
    /* 71 */ nullptr,
    /* 72 */ nullptr,
    /* 73 */ nullptr,
    /* 74 */ nullptr,
    /* 75 */ nullptr,
    /* 76 */ nullptr,
    /* 77 */ nullptr,
    /* 78 */ nullptr,
    /* 79 */ nullptr,
    /* 80 */ nullptr,
    /* 81 */ nullptr,
    /* 82 */ "\r\nDo you want to update the F/W\r\nFrom : %.24s %.5s (20%.8s)\r\nTo : %.24s %.5s (20%.8s)",
    /* 83 */ nullptr,
    /* 84 */ nullptr,
    /* 85 */ nullptr,
    /* 86 */ nullptr,
    /* 87 */ nullptr,
    /* 88 */ nullptr,
    /* 89 */ nullptr,
    /* 90 */ nullptr,
    /* 91 */ nullptr,
    /* 92 */ nullptr,
    /* 93 */ nullptr,
    /* 94 */ nullptr,
    /* 95 */ nullptr,
    /* 96 */ nullptr,
    /* 97 */ nullptr,
    /* 98 */ nullptr,
    /* 99 */ nullptr,
    /* 100 */ nullptr,
};

const char* const japanese_catalogue[MESSAGE_CODE_LIMIT + 1] = {
    // \nﾄﾞﾗｲﾌﾞ情報の取得に失敗しました。
    /* 0 */ "\n\xC4\xDE\xD7\xB2\xCC\xDE\x8F\xEE\x95\xF1\x82\xCC\x8E\xE6\x93\xBE\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    // \nﾊｰﾄﾞｳｪｱﾘﾋﾞｼﾞｮﾝが一致しません。
    /* 1 */ "\n\xCA\xB0\xC4\xDE\xB3\xAA\xB1\xD8\xCB\xDE\xBC\xDE\xAE\xDD\x82\xAA\x88\xEA\x92v\x82\xB5\x82\xDC\x82\xB9\x82\xF1\x81" "B",
    /* 2 */ nullptr,
    // \n通常ﾓｰﾄﾞ部分の機種型番が一致しません。
    /* 3 */ "\n\x92\xCA\x8F\xED\xD3\xB0\xC4\xDE\x95\x94\x95\xAA\x82\xCC\x8B@\x8E\xED\x8C^\x94\xD4\x82\xAA\x88\xEA\x92v\x82\xB5\x82\xDC\x82\xB9\x82\xF1\x81" "B",
    /* 4 */ nullptr,
    // \nDVD-RWﾄﾞﾗｲﾌﾞの中にﾃﾞｨｽｸがあります\nｲｼﾞｪｸﾄしてください。
    /* 5 */ "\nDVD-RW\xC4\xDE\xD7\xB2\xCC\xDE\x82\xCC\x92\x86\x82\xC9\xC3\xDE\xA8\xBD\xB8\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7\n\xB2\xBC\xDE\xAA\xB8\xC4\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81" "B",
    // \nﾄﾞﾗｲﾌﾞはｾｯﾄｱｯﾌﾟ中です。\nﾃﾞｨｽｸをｲｼﾞｪｸﾄしてください。
    /* 6 */ "\n\xC4\xDE\xD7\xB2\xCC\xDE\x82\xCD\xBE\xAF\xC4\xB1\xAF\xCC\xDF\x92\x86\x82\xC5\x82\xB7\x81" "B\n\xC3\xDE\xA8\xBD\xB8\x82\xF0\xB2\xBC\xDE\xAA\xB8\xC4\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81" "B",
    // \n不明なｴﾗｰが発生しました。
    /* 7 */ "\n\x95s\x96\xBE\x82\xC8\xB4\xD7\xB0\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 8 */ nullptr,
    // \nInquiryｺﾏﾝﾄﾞが失敗しました。
    /* 9 */ "\nInquiry\xBA\xCF\xDD\xC4\xDE\x82\xAA\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 10 */ nullptr,
    // \r\nﾊﾞｲﾅﾘﾌｧｲﾙの読み込みに失敗しました。\r\n(ファイル名 : %.12s)
    /* 11 */ "\r\n\xCA\xDE\xB2\xC5\xD8\xCC\xA7\xB2\xD9\x82\xCC\x93\xC7\x82\xDD\x8D\x9E\x82\xDD\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B\r\n(\x83t\x83@\x83" "C\x83\x8B\x96\xBC : %.12s)",
    // \nﾌｧｰﾑｳｪｱのﾊﾞｰｼﾞｮﾝｱｯﾌﾟは成功しました。
    /* 12 */ "\n\xCC\xA7\xB0\xD1\xB3\xAA\xB1\x82\xCC\xCA\xDE\xB0\xBC\xDE\xAE\xDD\xB1\xAF\xCC\xDF\x82\xCD\x90\xAC\x8C\xF7\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 13 */ nullptr,
    // \nｶｰﾈﾙﾓｰﾄﾞへの切替に失敗しました。
    /* 14 */ "\n\xB6\xB0\xC8\xD9\xD3\xB0\xC4\xDE\x82\xD6\x82\xCC\x90\xD8\x91\xD6\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    // \nﾉｰﾏﾙﾓｰﾄﾞへの切替に失敗しました。
    /* 15 */ "\n\xC9\xB0\xCF\xD9\xD3\xB0\xC4\xDE\x82\xD6\x82\xCC\x90\xD8\x91\xD6\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 16 */ nullptr,
    /* 17 */ nullptr,
    /* 18 */ nullptr,
    /* 19 */ nullptr,
    /* 20 */ nullptr,
    /* 21 */ nullptr,
    /* 22 */ nullptr,
    /* 23 */ nullptr,
    /* 24 */ nullptr,
    /* 25 */ nullptr,
    /* 26 */ nullptr,
    /* 27 */ nullptr,
    // \r\nこのﾌﾟﾛｸﾞﾗﾑで利用可能なﾄﾞﾗｲﾌﾞがありません。
    /* 28 */ "\r\n\x82\xB1\x82\xCC\xCC\xDF\xDB\xB8\xDE\xD7\xD1\x82\xC5\x97\x98\x97p\x89\xC2\x94\\\x82\xC8\xC4\xDE\xD7\xB2\xCC\xDE\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B",
    /* 29 */ nullptr,
    /* 30 */ nullptr,
    // \r\nこのﾌﾟﾛｸﾞﾗﾑで利用可能なﾄﾞﾗｲﾌﾞが%d台見つかりました。\r\nすべてのﾄﾞﾗｲﾌﾞを自動的にｱｯﾌﾟﾃﾞｰﾄしますか？
    /* 31 */ "\r\n\x82\xB1\x82\xCC\xCC\xDF\xDB\xB8\xDE\xD7\xD1\x82\xC5\x97\x98\x97p\x89\xC2\x94\\\x82\xC8\xC4\xDE\xD7\xB2\xCC\xDE\x82\xAA%d\x91\xE4\x8C\xA9\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB5\x82\xBD\x81" "B\r\n\x82\xB7\x82\xD7\x82\xC4\x82\xCC\xC4\xDE\xD7\xB2\xCC\xDE\x82\xF0\x8E\xA9\x93\xAE\x93I\x82\xC9\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x82\xB5\x82\xDC\x82\xB7\x82\xA9\x81H",
    /* 32 */ nullptr,
    /* 33 */ nullptr,
    // \r\n%d台目のﾄﾞﾗｲﾌﾞのｱｯﾌﾟﾃﾞｰﾄを開始します。
    /* 34 */ "\r\n%d\x91\xE4\x96\xDA\x82\xCC\xC4\xDE\xD7\xB2\xCC\xDE\x82\xCC\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x82\xF0\x8AJ\x8En\x82\xB5\x82\xDC\x82\xB7\x81" "B",
    // \r\nｱｯﾌﾟﾃﾞｰﾄﾌﾟﾛｸﾞﾗﾑは完了しました。
    /* 35 */ "\r\n\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\xCC\xDF\xDB\xB8\xDE\xD7\xD1\x82\xCD\x8A\xAE\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    // \r\nｱｯﾌﾟﾃﾞｰﾄﾌﾟﾛｸﾞﾗﾑはｴﾗｰが発生し終了しました。\r\n
    /* 36 */ "\r\n\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\xCC\xDF\xDB\xB8\xDE\xD7\xD1\x82\xCD\xB4\xD7\xB0\x82\xAA\x94\xAD\x90\xB6\x82\xB5\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B\r\n",
    // \r\nｶｰﾈﾙﾓ-ﾄﾞ部分の機種型番が一致しません。
    /* 37 */ "\r\n\xB6\xB0\xC8\xD9\xD3-\xC4\xDE\x95\x94\x95\xAA\x82\xCC\x8B@\x8E\xED\x8C^\x94\xD4\x82\xAA\x88\xEA\x92v\x82\xB5\x82\xDC\x82\xB9\x82\xF1\x81" "B",
    /* 38 */ nullptr,
    /* 39 */ nullptr,
    // \r\n選択されたﾌｧｲﾙはこのﾄﾞﾗｲﾌﾞのﾌｧｰﾑｳｪｱﾌｧｲﾙではありません。
    /* 40 */ "\r\n\x91I\x91\xF0\x82\xB3\x82\xEA\x82\xBD\xCC\xA7\xB2\xD9\x82\xCD\x82\xB1\x82\xCC\xC4\xDE\xD7\xB2\xCC\xDE\x82\xCC\xCC\xA7\xB0\xD1\xB3\xAA\xB1\xCC\xA7\xB2\xD9\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B",
    /* 41 */ nullptr,
    // \r\n通常部分のｱｯﾌﾟﾃﾞｰﾄに失敗しました。
    /* 42 */ "\r\n\x92\xCA\x8F\xED\x95\x94\x95\xAA\x82\xCC\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 43 */ nullptr,
    // \r\n新しいﾌｧｰﾑｳｪｱでﾄﾞﾗｲﾌﾞを再起動中です。
    /* 44 */ "\r\n\x90V\x82\xB5\x82\xA2\xCC\xA7\xB0\xD1\xB3\xAA\xB1\x82\xC5\xC4\xDE\xD7\xB2\xCC\xDE\x82\xF0\x8D\xC4\x8BN\x93\xAE\x92\x86\x82\xC5\x82\xB7\x81" "B",
    /* 45 */ nullptr,
    /* 46 */ nullptr,
    // \nﾉｰﾏﾙﾓｰﾄﾞへの切替に失敗しました。\r\n再度ｱｯﾌﾟﾃﾞｰﾄを行いますか？
    /* 47 */ "\n\xC9\xB0\xCF\xD9\xD3\xB0\xC4\xDE\x82\xD6\x82\xCC\x90\xD8\x91\xD6\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B\r\n\x8D\xC4\x93x\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x82\xF0\x8Ds\x82\xA2\x82\xDC\x82\xB7\x82\xA9\x81H",
    // \r\nIntel社のIDEﾄﾞﾗｲﾊﾞを検出しました。
    /* 48 */ "\r\nIntel\x8E\xD0\x82\xCCIDE\xC4\xDE\xD7\xB2\xCA\xDE\x82\xF0\x8C\x9F\x8Fo\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 49 */ nullptr,
    /* 50 */ nullptr,
    /* 51 */ nullptr,
    // \r\nIEEE1394ﾄﾞﾗｲﾊﾞを検出しました。
    /* 52 */ "\r\nIEEE1394\xC4\xDE\xD7\xB2\xCA\xDE\x82\xF0\x8C\x9F\x8Fo\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 53 */ nullptr,
    // \r\nﾌｧｰﾑｳｪｱはすでに最新です。
    /* 54 */ "\r\n\xCC\xA7\xB0\xD1\xB3\xAA\xB1\x82\xCD\x82\xB7\x82\xC5\x82\xC9\x8D\xC5\x90V\x82\xC5\x82\xB7\x81" "B",
    /* 55 */ nullptr,
    /* 56 */ nullptr,
    /* 57 */ nullptr,
    // \r\n%d台のﾄﾞﾗｲﾌﾞをｱｯﾌﾟﾃﾞｰﾄしました。
    /* 58 */ "\r\n%d\x91\xE4\x82\xCC\xC4\xDE\xD7\xB2\xCC\xDE\x82\xF0\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81" "B",
    /* 59 */ nullptr,
    /* 60 */ nullptr,
    // \r\n現在ﾌｧｰﾑｳｪｱの書換え中です。電源を切ったり、ﾘｾｯﾄを行わないでください。
    /* 61 */ "\r\n\x8C\xBB\x8D\xDD\xCC\xA7\xB0\xD1\xB3\xAA\xB1\x82\xCC\x8F\x91\x8A\xB7\x82\xA6\x92\x86\x82\xC5\x82\xB7\x81" "B\x93" "d\x8C\xB9\x82\xF0\x90\xD8\x82\xC1\x82\xBD\x82\xE8\x81" "A\xD8\xBE\xAF\xC4\x82\xF0\x8Ds\x82\xED\x82\xC8\x82\xA2\x82\xC5\x82\xAD\x82\xBE\x82\xB3\x82\xA2\x81" "B",
    /* 62 */ nullptr,
    /* 63 */ nullptr,
    /* 64 */ nullptr,
    /* 65 */ nullptr,
    /* 66 */ nullptr,
    /* 67 */ nullptr,
    /* 68 */ nullptr,
    // \r\n選択されたﾌｧｲﾙは新しいﾊﾞｰｼﾞｮﾝのﾌｧｰﾑｳｪｱﾌｧｲﾙではありません。
    /* 69 */ "\r\n\x91I\x91\xF0\x82\xB3\x82\xEA\x82\xBD\xCC\xA7\xB2\xD9\x82\xCD\x90V\x82\xB5\x82\xA2\xCA\xDE\xB0\xBC\xDE\xAE\xDD\x82\xCC\xCC\xA7\xB0\xD1\xB3\xAA\xB1\xCC\xA7\xB2\xD9\x82\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B",
    /* 70 */ nullptr,
    /* 71 */ nullptr,
    /* 72 */ nullptr,
    /* 73 */ nullptr,
    /* 74 */ nullptr,
    /* 75 */ nullptr,
    /* 76 */ nullptr,
    /* 77 */ nullptr,
    /* 78 */ nullptr,
    /* 79 */ nullptr,
    /* 80 */ nullptr,
    /* 81 */ nullptr,
    // \r\n%.24s %.5s (20%.8s)のﾄﾞﾗｲﾌﾞを\r\n%.24s %.5s (20%.8s)にｱｯﾌﾟﾃﾞｰﾄしますか？
    /* 82 */ "\r\n%.24s %.5s (20%.8s)\x82\xCC\xC4\xDE\xD7\xB2\xCC\xDE\x82\xF0\r\n%.24s %.5s (20%.8s)\x82\xC9\xB1\xAF\xCC\xDF\xC3\xDE\xB0\xC4\x82\xB5\x82\xDC\x82\xB7\x82\xA9\x81H",
    /* 83 */ nullptr,
    /* 84 */ nullptr,
    /* 85 */ nullptr,
    /* 86 */ nullptr,
    /* 87 */ nullptr,
    /* 88 */ nullptr,
    /* 89 */ nullptr,
    /* 90 */ nullptr,
    /* 91 */ nullptr,
    /* 92 */ nullptr,
    /* 93 */ nullptr,
    /* 94 */ nullptr,
    /* 95 */ nullptr,
    /* 96 */ nullptr,
    /* 97 */ nullptr,
    /* 98 */ nullptr,
    /* 99 */ nullptr,
    /* 100 */ nullptr,
};

// The notices, apart from the dialogue, in both languages; the Japanese as
// code page 932 bytes beside the readable text.
const char* const english_notices[NOTICE_COUNT] = {
    /* left in update firmware */
    "odd-fwupdate: %s is still in its update firmware; run odd-fwupdate again to complete its update\n",
    /* question not shown */
    "odd-fwupdate: a question could not be shown, so the run stops here; run odd-fwupdate where its questions "
    "can be seen and answered\n",
    /* all declined */
    "odd-fwupdate: no drive was updated: the update was declined\n",
    /* no drive */
    "odd-fwupdate: no drive this build can update was found\n",
    /* image not loaded */
    "odd-fwupdate: the image file %s could not be loaded\n",
    /* log not written */
    "odd-fwupdate: the log %s cannot be written; the run goes on without it\n",
    /* another run */
    "odd-fwupdate: another run is updating drives on this machine; run odd-fwupdate again when it has ended\n",
    /* log is the image */
    "odd-fwupdate: the log %s is the image file; name another file for the log\n",
    /* image not this build's */
    "odd-fwupdate: the image file %s is not the image this build installs; no drive was touched\n",
    /* checksum mismatch */
    "odd-fwupdate: the image file %s does not match its checksum file %s.sha256; no drive was touched\n",
    /* checksum unreadable */
    "odd-fwupdate: the checksum file %s.sha256 gives no SHA-256 for %s; no drive was touched\n",
    /* image changed */
    "odd-fwupdate: the image file %s changed during the run; the run stops before the drive receives it\n",
    /* drive not read */
    "odd-fwupdate: %s could not be read (%s); it may be a drive to update: run odd-fwupdate again later\n",
};
const char* const japanese_notices[NOTICE_COUNT] = {
    // "odd-fwupdate: %s はまだ更新用ファームウェアのままです。もう一度 odd-fwupdate を実行して更新を完了してください"
    "odd-fwupdate: %s \x82\xCD\x82\xDC\x82\xBE\x8DX\x90V\x97p\x83t\x83@\x81[\x83\x80\x83" "E\x83" "F\x83" "A\x82\xCC"
    "\x82\xDC\x82\xDC\x82\xC5\x82\xB7\x81" "B\x82\xE0\x82\xA4\x88\xEA\x93x odd-fwupdate \x82\xF0\x8E\xC0\x8Ds\x82\xB5"
    "\x82\xC4\x8DX\x90V\x82\xF0\x8A\xAE\x97\xB9\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\n",
    // "odd-fwupdate: 質問を表示できなかったため、ここで終了します。質問を表示して答えられる所で odd-fwupdate を実行してください"
    "odd-fwupdate: \x8E\xBF\x96\xE2\x82\xF0\x95\x5C\x8E\xA6\x82\xC5\x82\xAB\x82\xC8\x82\xA9\x82\xC1\x82\xBD\x82\xBD"
    "\x82\xDF\x81" "A\x82\xB1\x82\xB1\x82\xC5\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7\x81" "B\x8E\xBF\x96\xE2\x82\xF0\x95"
    "\x5C\x8E\xA6\x82\xB5\x82\xC4\x93\x9A\x82\xA6\x82\xE7\x82\xEA\x82\xE9\x8F\x8A\x82\xC5 odd-fwupdate \x82\xF0\x8E\xC0"
    "\x8Ds\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\n",
    // "odd-fwupdate: 更新が断られたため、どのドライブも更新していません"
    "odd-fwupdate: \x8DX\x90V\x82\xAA\x92" "f\x82\xE7\x82\xEA\x82\xBD\x82\xBD\x82\xDF\x81" "A\x82\xC7\x82\xCC\x83h\x83"
    "\x89\x83" "C\x83u\x82\xE0\x8DX\x90V\x82\xB5\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\n",
    // "odd-fwupdate: 更新できるドライブが見つかりません"
    "odd-fwupdate: \x8DX\x90V\x82\xC5\x82\xAB\x82\xE9\x83h\x83\x89\x83" "C\x83u\x82\xAA\x8C\xA9\x82\xC2\x82\xA9"
    "\x82\xE8\x82\xDC\x82\xB9\x82\xF1\n",
    // "odd-fwupdate: イメージファイル %s を読み込めません"
    "odd-fwupdate: \x83" "C\x83\x81\x81[\x83W\x83t\x83@\x83" "C\x83\x8B %s \x82\xF0\x93\xC7\x82\xDD\x8D\x9E\x82\xDF"
    "\x82\xDC\x82\xB9\x82\xF1\n",
    // "odd-fwupdate: ログ %s に書き込めません。ログなしで続けます"
    "odd-fwupdate: \x83\x8D\x83O %s \x82\xC9\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1\x81" "B\x83\x8D"
    "\x83O\x82\xC8\x82\xB5\x82\xC5\x91\xB1\x82\xAF\x82\xDC\x82\xB7\n",
    // "odd-fwupdate: このマシンでは別の実行がドライブを更新中です。それが終わってから odd-fwupdate をもう一度実行してください"
    "odd-fwupdate: \x82\xB1\x82\xCC\x83}\x83V\x83\x93\x82\xC5\x82\xCD\x95\xCA\x82\xCC\x8E\xC0\x8Ds\x82"
    "\xAA\x83h\x83\x89\x83" "C\x83u\x82\xF0\x8DX\x90V\x92\x86\x82\xC5\x82\xB7\x81" "B\x82\xBB\x82\xEA\x82"
    "\xAA\x8FI\x82\xED\x82\xC1\x82\xC4\x82\xA9\x82\xE7 odd-fwupdate \x82\xF0\x82\xE0\x82\xA4\x88\xEA\x93x"
    "\x8E\xC0\x8Ds\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\n",
    // "odd-fwupdate: ログ %s はイメージファイルです。ログには別のファイルを指定してください"
    "odd-fwupdate: \x83\x8D\x83O %s \x82\xCD\x83" "C\x83\x81\x81[\x83W\x83t\x83@\x83" "C\x83\x8B\x82\xC5"
    "\x82\xB7\x81" "B\x83\x8D\x83O\x82\xC9\x82\xCD\x95\xCA\x82\xCC\x83t\x83@\x83" "C\x83\x8B\x82\xF0\x8Ew"
    "\x92\xE8\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\n",
    // "odd-fwupdate: イメージファイル %s はこのプログラムが書き込むイメージではありません。どのドライブにも触れていません"
    "odd-fwupdate: \x83" "C\x83\x81\x81[\x83W\x83t\x83@\x83" "C\x83\x8B %s \x82\xCD\x82\xB1\x82\xCC\x83v"
    "\x83\x8D\x83O\x83\x89\x83\x80\x82\xAA\x8F\x91\x82\xAB\x8D\x9E\x82\xDE\x83" "C\x83\x81\x81[\x83W\x82"
    "\xC5\x82\xCD\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B\x82\xC7\x82\xCC\x83h\x83\x89\x83" "C"
    "\x83u\x82\xC9\x82\xE0\x90G\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\n",
    // "odd-fwupdate: イメージファイル %s がチェックサムファイル %s.sha256 と一致しません。どのドライブにも触れていません"
    "odd-fwupdate: \x83" "C\x83\x81\x81[\x83W\x83t\x83@\x83" "C\x83\x8B %s \x82\xAA\x83`\x83" "F\x83" "b"
    "\x83N\x83T\x83\x80\x83t\x83@\x83" "C\x83\x8B %s.sha256 \x82\xC6\x88\xEA\x92v\x82\xB5\x82\xDC\x82\xB9"
    "\x82\xF1\x81" "B\x82\xC7\x82\xCC\x83h\x83\x89\x83" "C\x83u\x82\xC9\x82\xE0\x90G\x82\xEA\x82\xC4\x82"
    "\xA2\x82\xDC\x82\xB9\x82\xF1\n",
    // "odd-fwupdate: チェックサムファイル %s.sha256 に %s の SHA-256 がありません。どのドライブにも触れていません"
    "odd-fwupdate: \x83`\x83" "F\x83" "b\x83N\x83T\x83\x80\x83t\x83@\x83" "C\x83\x8B %s.sha256 \x82\xC9 %"
    "s \x82\xCC SHA-256 \x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB9\x82\xF1\x81" "B\x82\xC7\x82\xCC\x83h\x83"
    "\x89\x83" "C\x83u\x82\xC9\x82\xE0\x90G\x82\xEA\x82\xC4\x82\xA2\x82\xDC\x82\xB9\x82\xF1\n",
    // "odd-fwupdate: イメージファイル %s が実行中に変わりました。ドライブに送る前に終了します"
    "odd-fwupdate: \x83" "C\x83\x81\x81[\x83W\x83t\x83@\x83" "C\x83\x8B %s \x82\xAA\x8E\xC0\x8Ds\x92\x86"
    "\x82\xC9\x95\xCF\x82\xED\x82\xE8\x82\xDC\x82\xB5\x82\xBD\x81" "B\x83h\x83\x89\x83" "C\x83u\x82\xC9"
    "\x91\x97\x82\xE9\x91O\x82\xC9\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7\n",
    // "odd-fwupdate: %s を読み取れませんでした（%s）。更新するドライブかもしれません。あとでもう一度 odd-fwupdate を実行してください"
    "odd-fwupdate: %s \x82\xF0\x93\xC7\x82\xDD\x8E\xE6\x82\xEA\x82\xDC\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81i%s\x81j\x81" "B\x8DX\x90V\x82\xB7\x82\xE9\x83h\x83\x89\x83" "C\x83u\x82\xA9\x82\xE0\x82\xB5\x82\xEA\x82\xDC\x82\xB9\x82\xF1\x81" "B\x82\xA0\x82\xC6\x82\xC5\x82\xE0\x82\xA4\x88\xEA\x93x odd-fwupdate \x82\xF0\x8E\xC0\x8Ds\x82\xB5\x82\xC4\x82\xAD\x82\xBE\x82\xB3\x82\xA2\n",
};
