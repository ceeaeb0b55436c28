// Fuzz target: any answer a drive gives to INQUIRY (96 bytes) and to READ
// BUFFER of its identity block (48 bytes), taken through enumeration's probes,
// identification, the revision reports before and after the update, the
// compatibility check, the per-drive question and the update-mode check.
//
// Input: the 96 INQUIRY bytes, the 48 identity-block bytes, then one byte of
// settings (bit 0: code page 932; bit 1: every drive updated without the
// per-drive question). A shorter input is followed by zeros.
//
// The emulated drive at E: runs every command as usual; the pass-through call
// then hands the updater these bytes instead of the drive's own answer.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_run.h"
#include "image/revision_checks.h"
#include "messages/messages.h"
#include "tools/make-image/image_builder.h"
#include "transport/transport.h"
#include "update/update.h"

namespace {

const std::string IMAGE_FILE = release_image_file_name();
constexpr size_t INQUIRY_SIZE = 96;
constexpr size_t IDENTITY_SIZE = 48;

uint8_t inquiry_answer[INQUIRY_SIZE];
uint8_t identity_answer[IDENTITY_SIZE];
const host_calls* simulated = nullptr;

BOOL answering_device_io_control(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                                 LPDWORD returned, LPOVERLAPPED overlapped) {
    BOOL done = simulated->DeviceIoControl(device, code, in, in_size, out, out_size, returned, overlapped);
    if (!done || code != IOCTL_SCSI_PASS_THROUGH_DIRECT) return done;
    auto* block = static_cast<SCSI_PASS_THROUGH_DIRECT*>(in);
    if (block->ScsiStatus != 0 || block->DataBuffer == nullptr) return done;
    const uint8_t* cdb = block->Cdb;
    uint8_t* data = static_cast<uint8_t*>(block->DataBuffer);
    if (cdb[0] == 0x12) {
        std::memcpy(data, inquiry_answer, std::min<size_t>(INQUIRY_SIZE, block->DataTransferLength));
    } else if (cdb[0] == 0x3C && cdb[1] == 0x02 && cdb[2] == 0xF1) {
        std::memcpy(data, identity_answer, std::min<size_t>(IDENTITY_SIZE, block->DataTransferLength));
    }
    return done;
}

const std::vector<uint8_t>& the_image() {
    static const std::vector<uint8_t> image = [] {
        image_fields fields;
        fields.size = 0x10000;
        return build_image(fields);
    }();
    return image;
}

bool same_text(const uint8_t* a, const char* b) { return std::memcmp(a, b, 8) == 0; }

// The drive names this build's model, and its update vendor (or, in its update
// firmware, its signature) is the model row's.
bool names_this_model() {
    const bool product = std::memcmp(inquiry_answer + 8, "QUARLEN DVD-RW  KWR-322 ", 24) == 0 ||
                         std::memcmp(inquiry_answer + 8, "QUARLEN DVD-RW  KWR-322D", 24) == 0;
    const bool vendor = same_text(identity_answer + 32, "QUA_ADV ") ||
                        (same_text(identity_answer + 32, "        ") && same_text(identity_answer + 24, "QUA_ADV "));
    return product && vendor;
}

bool accepted_anywhere(const uint8_t* field) {
    return same_text(field, "KESTO   ") || same_text(field, "GENERAL ") || same_text(field, "QUA_ADV ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::memset(inquiry_answer, 0, sizeof inquiry_answer);
    std::memset(identity_answer, 0, sizeof identity_answer);
    std::memcpy(inquiry_answer, data, std::min(size, INQUIRY_SIZE));
    if (size > INQUIRY_SIZE) std::memcpy(identity_answer, data + INQUIRY_SIZE, std::min(size - INQUIRY_SIZE, IDENTITY_SIZE));
    const uint8_t settings = size > INQUIRY_SIZE + IDENTITY_SIZE ? data[INQUIRY_SIZE + IDENTITY_SIZE] : 0;

    {
        sim::machine h;
        h.cfg.oem_code_page = (settings & 1) ? 932 : 437;
        h.cfg.files[IMAGE_FILE] = the_image();
        h.cfg.answers = {IDYES, IDYES, IDYES};
        h.add_drive_at_letter('E');
        fuzz::prepare_run(h);
        static host_calls answering;
        simulated = installed_host;
        answering = *simulated;
        answering.DeviceIoControl = answering_device_io_control;
        install_host(&answering);

        const int found = enumerate_targets(descriptor_rows());
        fuzz::require((found == 1) == names_this_model(), "enumeration takes exactly the drives of this model");
        target_table[0].drive_letter = 'E';
        target_count = 1;
        current_target = 0;
        update_all = (settings & 2) ? 1 : 0;

        // Only an answer that holds a revision and (but for the update firmware's) a date is judged.
        const auto no_zero = [](const uint8_t* field, size_t width) { return std::find(field, field + width, 0) == field + width; };
        const bool judged = no_zero(inquiry_answer + 32, 4) &&
                            (std::memcmp(inquiry_answer + 32, "000", 3) == 0 || no_zero(inquiry_answer + 37, 8));
        fuzz::require((identify_drive(descriptor_rows()) == 0) == judged, "identification reads both answers, and refuses one it cannot judge");
        if (!judged) {
            release_host_environment();
            fuzz::require(h.open_handles() == 0, "no handle is left open");
            fuzz::end_run(0x10000);
            return 0;
        }
        fuzz::require((identify_model(inquiry_data, descriptor_rows()) >= 0) == names_this_model(), "identification matches the model");
        update_mode = 0;
        loaded_image image;
        fuzz::require(load_image(image) == 0, "the image loads");
        fuzz::require(report_revision(0) == 0, "the current revision is read");
        print_text(format_text("\nCurrent Signature = %.8s", reinterpret_cast<const char*>(drive_info + 24)).c_str());
        const int compatible = check_compatibility(1, update_all);
        if (compatible == 0) {
            fuzz::require(same_text(identity_answer + 16, "ATAPI123"), "a compatible drive has the image's hardware revision");
            fuzz::require(accepted_anywhere(identity_answer + 24), "a compatible drive has an accepted signature");
            fuzz::require(identity_answer[32] == ' ' || accepted_anywhere(identity_answer + 32),
                          "a compatible drive has an accepted update vendor");
        }
        if (compatible == 1 && oem_code_page != 932)
            fuzz::require(h.console.find("\r\nFW is already latest.") != std::string::npos, "up to date is told");
        show_message(82, KIND_YES_NO);
        const bool update_firmware = std::memcmp(inquiry_answer + 32, "000", 3) == 0 &&
                                     std::memcmp(inquiry_answer + 8, "QUARLEN DVD-RW  KWR-", 20) == 0;
        fuzz::require((check_update_mode() == 0) == update_firmware, "update mode is told by the drive's answer");
        fuzz::require(report_revision(1) == 0, "the new revision is read");
        release_host_environment();
        fuzz::require(h.open_handles() == 0, "no handle is left open");
    }
    fuzz::end_run(0x10000);
    return 0;
}
