// The spine of the run: the banner, the language, host detection and
// enumeration, the target loop, the summary and the exit code. Owns the run
// state.

#include <cstring>

#include "discovery/enumeration.h"
#include "discovery/host_environment.h"
#include "entry/drive_outcomes.h"
#include "entry/entry.h"
#include "entry/options.h"
#include "entry/run_log.h"
#include "entry/run_opening.h"
#include "image/image_integrity.h"
#include "messages/messages.h"
#include "model/drive_model.h"
#include "platform/host.h"
#include "platform/wait.h"
#include "transport/transport.h"
#include "update/update.h"

int update_all = 0;
int updated_count = 0;
bool run_stopped_by_interrupt = false;

namespace {

constexpr int BANNER_MAJOR = 2;
constexpr int BANNER_MINOR = 57;
constexpr char BANNER_LETTER = 'C';

constexpr uint32_t MODEL_CLASS_MASK = 0xF000;
constexpr uint32_t MODEL_CLASS_DRIVE_UPDATE = 0x1000;
constexpr uint32_t PAUSE_AFTER_UPDATE_MS = 2000;

// Every drive from `first` on gets its record: the run stopped before it,
// with `image` as last read.
void log_drives_not_visited(int first, const loaded_image& image) {
    for (int i = first; i < target_count; ++i) {
        current_target = i;
        drive_outcome& outcome = outcome_of_target(i);
        outcome.fate = drive_fate::not_visited;
        outcome.reason = outcome_reason::not_visited;
        log_drive_not_visited(image);
    }
}

// The drives of a run whose image was refused: each is told with that
// reason, and none is sent anything more than its listing took.
int list_drives_for_a_refused_image() {
    for (int i = 0; i < target_count; ++i) {
        current_target = i;
        drive_outcome& outcome = outcome_of_target(i);
        outcome.fate = outcome.in_update_firmware ? drive_fate::update_firmware : drive_fate::failed;
        outcome.reason = outcome_reason::image_refused;
        std::memcpy(outcome.after, outcome.before, sizeof outcome.after);
        log_drive(outcome, loaded_image{});
    }
    release_host_environment();
    return fleet_exit_code();
}

// The way out when a question could not be shown: nobody answered, so
// nothing more is done, and the exit code says the run did not finish.
int abandon_run() {
    host::write_notice(notice_text(NOTICE_QUESTION_NOT_SHOWN));
    release_host_environment();
    return 1;
}

}  // namespace

std::string updater_title() {
    return format_text("ODD Firmware Update Utility Ver%1d.%02d%c", BANNER_MAJOR, BANNER_MINOR, BANNER_LETTER);
}

int updater_main(int, char**) {
    start_run_record();
    start_console((options.check || options.yes) && !host::console_is_a_screen());
    set_unattended(options.yes);
    // A record of the machine is made by a check, which changes no drive.
    const int run_code = options.check || !options.record.empty() ? check_run() : update_run();
    end_console_line();
    const int exit_code = host::final_exit_code(run_code, run_stopped_by_interrupt ? 1 : 0);
    log_run(exit_code);
    return exit_code;
}

int update_run() {
    update_all = 1;
    print_text(format_text("\n/// %s\n", updater_title().c_str()).c_str());
    if (const int refused = begin_run()) return refused;
    for (int i = 0; i < target_count; ++i) {
        host::target_found(i + 1, drive_device_path(target_table[i].drive_letter).c_str());
        // Named at the end of the run unless seen in other firmware by then.
        if (target_table[i].in_update_firmware) note_drive_firmware(i, 1);
    }
    tell_drives_not_targets();
    if (image_refused_at_opening) return list_drives_for_a_refused_image();

    if (target_count == 0) {
        show_message(MSG_NO_TARGET, KIND_INFO);
        release_host_environment();
        return options.yes ? fleet_exit_code() : 1;
    }
    // The image as each drive's visit last read it, which the record tells.
    loaded_image image;
    if (target_count > 1) {
        // Only a Yes spares the per-drive questions; a question that could not
        // be shown ends the run.
        message_fields found;
        found.number = target_count;
        const int answer = ask(MSG_UPDATE_ALL_QUESTION, found);
        if (answer == NOT_SHOWN) {
            log_drives_not_visited(0, image);
            return abandon_run();
        }
        if (answer == IDNO) update_all = 0;
    } else {
        update_all = 0;
    }

    updated_count = 0;
    bool declined = false;
    entering_update_window = log_drive_updating;
    drive_identified = log_drive_found;
    for (int i = 0; i < target_count; ++i) {
        current_target = i;
        message_fields drive;
        drive.number = i + 1;
        show_message(MSG_START_DEVICE, KIND_CONSOLE, drive);
        const int row = target_table[i].model_row;
        if (row < 0 || row >= release_count ||
            (firmware_descriptor[row].model_code & MODEL_CLASS_MASK) != MODEL_CLASS_DRIVE_UPDATE)
            continue;
        drive_outcome& outcome = outcome_of_target(i);
        int result = update_drive(descriptor_rows(), update_all, image, outcome);
        log_drive(outcome, image);
        if (result == DRIVE_UPDATED) ++updated_count;
        // The drive's own result is counted and recorded; an interrupt held
        // during its update then stops the run before the next drive.
        if (interrupt_held && i + 1 < target_count && result != RUN_ABANDONED) {
            result = RUN_STOPPED;
            run_stopped_by_interrupt = true;
        }
        if (result == DRIVE_UPDATED) {
            wait_ms(PAUSE_AFTER_UPDATE_MS);
        } else if (result == DRIVE_DECLINED) {
            declined = true;
        } else if (result == RUN_ABANDONED) {
            log_drives_not_visited(i + 1, image);
            return abandon_run();
        } else if (result == RUN_STOPPED) {
            log_drives_not_visited(i + 1, image);
            show_message(MSG_TERMINATED, KIND_WARNING);
            release_host_environment();
            return options.yes ? fleet_exit_code() : 1;
        }
    }

    if (updated_count == target_count) {
        show_message(MSG_ALL_UPDATED, KIND_INFO);
    } else if (updated_count != 0) {
        message_fields updated;
        updated.number = updated_count;
        show_message(MSG_SOME_UPDATED, KIND_INFO, updated);
    } else if (declined) {
        // Nothing on the console says why nothing was updated.
        host::write_notice(notice_text(NOTICE_ALL_DECLINED));
    }
    release_host_environment();
    return options.yes ? fleet_exit_code() : 0;
}

void reset_entry_state() {
    reset_run_log();
    reset_run_opening_state();
    update_all = 0;
    updated_count = 0;
    interrupt_held = 0;
    entering_update_window = nullptr;
    drive_identified = nullptr;
    run_stopped_by_interrupt = false;
    reset_image_integrity_state();
}
