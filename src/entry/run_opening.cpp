// The opening of every run: the built-in descriptor filled from the model,
// the machine claimed for this run, a record that is not the image, and the
// image read once and vetted.
#include "entry/run_opening.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "discovery/drive_identity.h"
#include "discovery/enumeration.h"
#include "entry/exit_codes.h"
#include "entry/options.h"
#include "entry/run_log.h"
#include "image/firmware_image.h"
#include "image/image_integrity.h"
#include "messages/messages.h"
#include "platform/host.h"
#include "transport/aspi_adapters.h"
#include "update/update.h"

model_row firmware_descriptor[MAX_MODEL_ROWS];
int release_count = 0;
bool image_refused_at_opening = false;
bool another_run_held_the_drives = false;

namespace {

void copy_text(char* field, const char* text, size_t width) { std::memcpy(field, text, width); }

// The ASPI route takes its request blocks after the drive data; the
// pass-through route has none.
working_buffer* const ASPI_BLOCKS[] = {&drive_data_buffer, &request_block_area, &image_buffer, &small_buffer};
working_buffer* const NT_BUFFERS[] = {&drive_data_buffer, &image_buffer, &small_buffer};
const uint32_t NT_SIZES[] = {NT_DRIVE_DATA_SIZE, NT_IMAGE_SIZE, NT_SMALL_SIZE};
static_assert(std::size(NT_BUFFERS) == std::size(NT_SIZES));
const run_buffers RUN_BUFFERS = {ASPI_BLOCKS, static_cast<int>(std::size(ASPI_BLOCKS)), NT_BUFFERS, NT_SIZES,
                                 static_cast<int>(std::size(NT_BUFFERS))};

}  // namespace

const run_buffers& working_buffers_of_the_run() { return RUN_BUFFERS; }

void init_firmware_descriptor() {
    std::memset(firmware_descriptor, 0, sizeof firmware_descriptor);
    release_count = 0;
    std::memset(&current_release, 0, sizeof current_release);

    image_version = RELEASE_VERSION;
    for (int index = 0; index < MODEL_TABLE_ROWS && index < MAX_MODEL_ROWS; ++index) {
        const model_facts& model = MODEL_TABLE[index];
        model_row& row = firmware_descriptor[index];
        // The image is read from the path the run was given, else by the
        // model's file name in the current folder.
        const std::string image = options.image.empty() ? release_image_file_name(model) : options.image;
        std::snprintf(row.image_file_name, sizeof row.image_file_name, "%s", image.c_str());
        copy_text(row.update_vendor, model.update_vendor, sizeof row.update_vendor);
        copy_text(row.vendor_id, model.vendor_id, sizeof row.vendor_id);
        copy_text(row.product_id, model.product_id, sizeof row.product_id);
        row.model_code = model.model_code;
        row.minimum_image_date = model.minimum_image_date;
        row.access_code = model.access_code;
        copy_text(row.model_string, model.model_string, sizeof row.model_string);
        row.block_length = model.block_length;
        row.entry_timeout_ms = model.entry_timeout_ms;
        row.leave_timeout_ms = model.leave_timeout_ms;
        std::snprintf(row.product_name, sizeof row.product_name, "%s", model.product_name);
        release_count = index + 1;
    }
}

std::string every_row(std::string (*text_of)(const model_row& row)) {
    std::string texts;
    for (int row = 0; row < release_count; ++row)
        texts += (row == 0 ? "" : row + 1 == release_count ? " and " : ", ") + text_of(firmware_descriptor[row]);
    return texts;
}

model_rows descriptor_rows() {
    return {firmware_descriptor, release_count < MAX_MODEL_ROWS ? release_count : MAX_MODEL_ROWS};
}

int open_run() {
    const bool fleet = options.check || options.yes;
    // Before anything is written anywhere: the record is opened once and
    // judged by the file opened, which every line then goes to.
    if (!options.log.empty()) {
        host::keep_record_open(options.log.c_str());
        for (int row = 0; row < release_count; ++row) {
            if (!host::same_file(options.log.c_str(), firmware_descriptor[row].image_file_name)) continue;
            host::write_notice(format_text(notice_text(NOTICE_LOG_IS_IMAGE), options.log.c_str()).c_str());
            options.log.clear();  // not a byte of a record goes into the image
            return EXIT_USAGE;
        }
    }
    if (const int refused = host::claim_machine(options.check ? 1 : 0)) {
        another_run_held_the_drives = refused == 1;
        host::write_notice(notice_text(refused == 1 ? NOTICE_ANOTHER_RUN : NOTICE_CLAIM_NOT_TAKEN));
        return fleet ? EXIT_TRY_AGAIN_LATER : 1;
    }
    // An unattended run flashes only an image whose digest it was given; a
    // check judges as that run would.
    image_digest_rule rule;
    rule.given = !options.sha256.empty() && digest_from_text(options.sha256, rule.sha256);
    rule.required = fleet;
    set_image_digest_rule(rule);
    for (int row = 0; row < release_count; ++row) {
        if (vet_image(firmware_descriptor[row].image_file_name) == 0) continue;
        if (!fleet) return 1;
        image_refused_at_opening = true;
    }
    return 0;
}

int begin_run() {
    oem_code_page = host::GetOEMCP();
    init_firmware_descriptor();
    if (const int refused = open_run()) return refused;
    prepare_run_record();
    detect_host_environment(working_buffers_of_the_run());
    target_count = enumerate_targets(descriptor_rows());
    log_drives_found();
    return 0;
}

void reset_run_opening_state() {
    image_refused_at_opening = false;
    another_run_held_the_drives = false;
    std::memset(firmware_descriptor, 0, sizeof firmware_descriptor);
    release_count = 0;
}
