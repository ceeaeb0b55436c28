// The fault sweep: a whole update of one emulated drive with a 2 MiB image is
// run once cleanly, and then again for every command it sends, with that one
// command failing in each way a command can fail. Every run is held to the
// promises the updater makes to the technician: it ends, with exit code 0 or 1;
// it claims success only for a drive that holds the whole image and answers
// with the new revision; a drive left half-way in its update firmware is never
// passed over in silence; each failure is told once; nothing it took from the
// host is still held when it exits; and every WRITE BUFFER goes out inside an
// update window, which says so when it leaves the drive in its update firmware.
//
// Every question is answered Yes, so a retry the updater offers is always taken.
// A run that needs more than a bound of commands or virtual time has not ended.
// Drives that misbehave as a whole (back in their old firmware after a refused
// block or leave command, a garbled answer after the restart, a re-flash that
// outlasts the settle wait, unit attention without end) and a run in which no
// box can be shown are held to the same promises on every route.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <unistd.h>

#include "dialogue_expectations.h"
#include "drive_expectations.h"
#include "discovery/enumeration.h"
#include "entry/drive_outcomes.h"
#include "entry/entry.h"
#include "entry/options.h"
#include "image/sha256.h"
#include "platform/sim/sim_host.h"
#include "run_state.h"
#include "test_support.h"
#include "tools/make-image/image_builder.h"

namespace {

const std::string IMAGE_FILE = release_image_file_name();
const std::string NEW_REVISION = release_version_text();
const std::string NEW_REVISION_LINE = "\nNew Revision    >> ";

// A run may send as many commands as this many clean updates: one pass fails
// on the broken command and the retry the user agrees to succeeds, with room
// to spare. A run that needs more keeps failing and has not ended.
constexpr size_t PASSES_ALLOWED = 4;
// No command waits longer than a minute in any route, so this is hours beyond
// the longest run that still ends.
constexpr uint64_t VIRTUAL_TIME_ALLOWED_MS = 2ull * 60 * 60 * 1000;
// A run takes milliseconds of real time; one that takes this long is stuck in
// the updater without calling the host at all.
constexpr std::chrono::seconds WALL_TIME_ALLOWED{30};
constexpr size_t ANSWERS_GIVEN = 10000;
// A run that does not end is made again with this many Yes answers, after
// which every box fails to show (a question then counts as No for the retry),
// so that the other promises are checked on how such a run ends.
constexpr size_t ANSWERS_BEFORE_GIVING_UP = 8;

// --- what the user is told ----------------------------------------------------

// The English texts the update can show, as the user sees them here: one drive,
// the image file of this build, one drive updated.
struct message_text {
    int code;
    std::string text;
};

const std::vector<message_text>& messages() {
    static const std::vector<message_text> shown = [] {
        std::vector<message_text> out;
        for (const expect::catalogue_row& row : expect::ENGLISH_CATALOGUE) {
            char text[256];
            switch (row.code) {
            case 11: std::snprintf(text, sizeof text, row.text, IMAGE_FILE.c_str()); break;
            case 34:
            case 58: std::snprintf(text, sizeof text, row.text, 1); break;
            case 31:
            case 82: continue;  // questions of several drives, or with the drive's own fields
            default: std::snprintf(text, sizeof text, "%s", row.text);
            }
            out.push_back({row.code, text});
        }
        return out;
    }();
    return shown;
}
const char UNKNOWN_MESSAGE[] = "\r\nUnknow Message Code\r\n";

const std::string NOT_ENDED = "did not end";
const std::string GIVEN_UP = "when the answers run out: ";

// Messages that tell the failure of the drive command just sent.
const int COMMAND_FAILURE_MESSAGES[] = {0, 6, 7, 9, 14, 15, 42};
// Messages that end the run; each can be shown once at most.
const int RUN_ENDING_MESSAGES[] = {28, 36};
// Everything that tells the user that a drive was not updated, or why.
const int NOT_UPDATED_MESSAGES[] = {0, 1, 3, 5, 6, 7, 9, 11, 14, 15, 28, 36, 37, 40, 42, 47, 54, 69};
// The questions whose Yes lets a drive be flashed: 82 for one drive, 31 for all.
const char UPDATE_QUESTION[] = "Do you want to update";

int message_code(const std::string& text) {
    for (const message_text& m : messages())
        if (text == m.text) return m.code;
    return -1;
}

bool listed(const int* begin, const int* end, int code) { return std::find(begin, end, code) != end; }
template <size_t n>
bool listed(const int (&codes)[n], int code) {
    return listed(codes, codes + n, code);
}

// --- the three routes to the drive -------------------------------------------

struct route {
    const char* name;
    std::function<void(sim::machine&, const emu::drive_config&)> set_up;
};

void windows_98(sim::machine& h, const char* adapter) { as_windows_9x(h, {{adapter}}); }

const route ROUTES[] = {
    {"nt", [](sim::machine& h, const emu::drive_config& d) { h.add_drive_at_letter('E', d); }},
    {"win98_intelata",
     [](sim::machine& h, const emu::drive_config& d) {
         windows_98(h, "intelata");
         h.add_drive_at_address(0, 0, d);
     }},
    {"win98_ieee1394",
     [](sim::machine& h, const emu::drive_config& d) {
         windows_98(h, "NTMAPHLP");
         h.add_drive_at_address(0, 0, d);
     }},
};

// --- the ways one command fails -----------------------------------------------

bool is_test_unit_ready(const std::vector<uint8_t>& cdb) { return !cdb.empty() && cdb[0] == 0x00; }
bool is_image_block(const std::vector<uint8_t>& cdb) { return cdb.size() > 2 && cdb[0] == 0x3B && (cdb[1] & 0x1F) == 7; }

struct failure_kind {
    const char* name;
    // The fault for command `number` of the clean run, or false when this kind
    // says nothing new for that command.
    std::function<bool(uint32_t number, const std::vector<uint8_t>& cdb, emu::injected_fault& fault)> make;
};

const failure_kind FAILURES[] = {
    // The sense a drive gives for that command: TEST UNIT READY of a drive that
    // is spinning up, a hardware error for anything else.
    {"sense",
     [](uint32_t n, const std::vector<uint8_t>& cdb, emu::injected_fault& f) {
         f = is_test_unit_ready(cdb) ? expect::sense_at(n, 0x02, 0x04, 0x01) : expect::sense_at(n, 0x04, 0x44, 0x00);
         return true;
     }},
    // A drive that is not ready for a command other than TEST UNIT READY.
    {"not_ready",
     [](uint32_t n, const std::vector<uint8_t>& cdb, emu::injected_fault& f) {
         if (is_test_unit_ready(cdb)) return false;
         f = expect::sense_at(n, 0x02, 0x04, 0x01);
         return true;
     }},
    {"transport",
     [](uint32_t n, const std::vector<uint8_t>&, emu::injected_fault& f) {
         f = expect::lost_at(n, emu::fault_kind::transport);
         return true;
     }},
    {"timeout",
     [](uint32_t n, const std::vector<uint8_t>&, emu::injected_fault& f) {
         f = expect::lost_at(n, emu::fault_kind::timeout);
         return true;
     }},
    {"busy",
     [](uint32_t n, const std::vector<uint8_t>&, emu::injected_fault& f) {
         f = expect::lost_at(n, emu::fault_kind::busy);
         return true;
     }},
    // Refused by the system before it leaves (EPERM from SG_IO, access denied).
    {"refused",
     [](uint32_t n, const std::vector<uint8_t>&, emu::injected_fault& f) {
         f = expect::lost_at(n, emu::fault_kind::refused);
         return true;
     }},
    // An image block answered GOOD with half of it not taken: only the count of
    // bytes moved tells.
    {"residual",
     [](uint32_t n, const std::vector<uint8_t>& cdb, emu::injected_fault& f) {
         f.command_number = n;
         f.kind = emu::fault_kind::good_with_residual;
         return is_image_block(cdb);
     }},
};

// Data out the drive answered GOOD and did not take whole.
bool taken_in_part(const emu::command_record& r) {
    return r.direction == emu::DIR_OUT && !r.result.transport_failure && !r.result.timed_out &&
           r.result.status == emu::STATUS_GOOD && r.result.transferred < r.data_length;
}

bool failed(const emu::command_record& r) {
    return r.result.transport_failure || r.result.timed_out || r.result.status != emu::STATUS_GOOD || taken_in_part(r);
}

bool is_write_buffer(const std::vector<uint8_t>& cdb) { return !cdb.empty() && cdb[0] == 0x3B; }
bool is_inquiry(const std::vector<uint8_t>& cdb) { return !cdb.empty() && cdb[0] == 0x12; }

// --- drives that misbehave as a whole --------------------------------------------

struct drive_behaviour {
    const char* name;
    std::function<void(emu::drive_config&)> set_up;
    size_t answers;  // Yes answers given; after them every box fails to show
    std::string outcome;  // how the run must end
    int then = 0;         // the answer to every box after them (0: it cannot be shown)
    std::function<void(image_fields&)> image = nullptr;  // the image file, when not the sweep's own
    bool image_changes_at_retry = false;  // the file is written anew while the retry is asked
    int interrupt_in_update = 0;          // an interrupt (Ctrl-C) held in this update window (1-based)
    uint32_t replaced_after = 0;  // the drive unplugged after this command, another at its letter at once
};

// A drive that comes back from its re-flash showing something else than the
// image it received, in one field.
drive_behaviour restarts_showing(const char* name, std::function<void(emu::drive_config&)> set_up) {
    return {name, std::move(set_up), ANSWERS_GIVEN, "exit 1, updated 0,"};
}

// A drive that cannot be reached or read when the run lists it: "Available
// target is not found." ends the run.
drive_behaviour unreached(const char* name, std::function<void(emu::drive_config&)> set_up) {
    return {name, std::move(set_up), ANSWERS_GIVEN, "exit 1, updated 0,"};
}

// A drive of the image's version but a day older: the check lets the image
// through, and only a real re-flash makes it up to date.
void same_version_older_date(emu::drive_config& d) {
    d.revision = NEW_REVISION;
    d.date = "08/07/24";
}

const drive_behaviour BEHAVIOURS[] = {
    {"old_firmware_after_refused_block",
     [](emu::drive_config& d) {
         d.refuse_block = 5;
         d.refused_block_restarts = true;
     },
     ANSWERS_GIVEN, "exit 1, updated 0,"},
    {"old_firmware_after_refused_leave",
     [](emu::drive_config& d) {
         d.refuse_leave = true;
         d.refused_leave_restarts = true;
     },
     ANSWERS_GIVEN, "exit 1, updated 0,"},
    {"short_answer_after_restart",
     [](emu::drive_config& d) {
         d.stay_in_update_mode = true;
         d.inquiry_length_after_restart = 32;
     },
     ANSWERS_GIVEN, "exit 1, updated 0,"},
    // The identity block alone says update firmware: the switch is sent all the same.
    {"blank_update_vendor_in_normal_firmware", [](emu::drive_config& d) { d.update_vendor = "        "; },
     ANSWERS_GIVEN, "exit 0, updated 1,"},
    {"reflash_outlasting_the_settle_wait", [](emu::drive_config& d) { d.reflash_ms = 15000; }, ANSWERS_GIVEN,
     "exit 0, updated 1,"},
    {"endless_unit_attention", [](emu::drive_config& d) { d.ready_test_unit_attentions = 1000000; }, ANSWERS_GIVEN,
     "exit 0, updated 0,"},
    {"no_box_can_be_shown", [](emu::drive_config&) {}, 0, "exit 1, updated 0,"},
    {"older_date_refused_block_restarting",
     [](emu::drive_config& d) {
         same_version_older_date(d);
         d.refuse_block = 3;
         d.refused_block_restarts = true;
     },
     ANSWERS_GIVEN, "exit 1, updated 0,"},
    {"older_date_refused_leave_restarting",
     [](emu::drive_config& d) {
         same_version_older_date(d);
         d.refuse_leave = true;
         d.refused_leave_restarts = true;
     },
     ANSWERS_GIVEN, "exit 1, updated 0,"},
    {"garbled_revision_after_restart", [](emu::drive_config& d) { d.revision_after_restart = "1.1H"; }, ANSWERS_GIVEN,
     "exit 1, updated 0,"},
    {"inquiry_too_short_for_revision_and_date", [](emu::drive_config& d) { d.inquiry_length = 32; }, ANSWERS_GIVEN,
     "exit 0, updated 0,"},
    {"found_in_update_firmware_and_declined", [](emu::drive_config& d) { d.starts_in_update_mode = true; }, 0,
     "exit 0, updated 0,", IDNO},
    {"update_firmware_for_ever", [](emu::drive_config& d) { d.stay_in_update_mode = true; }, ANSWERS_GIVEN,
     "exit 1, updated 0,"},
    restarts_showing("later_date_after_restart", [](emu::drive_config& d) { d.date_after_restart = "08/07/26"; }),
    restarts_showing("another_product_after_restart",
                     [](emu::drive_config& d) { d.product_after_restart = "DVD-RW  KWR-999 "; }),
    restarts_showing("another_vendor_after_restart", [](emu::drive_config& d) { d.vendor_after_restart = "QUARLEM "; }),
    restarts_showing("zero_byte_in_the_product_after_restart",
                     [](emu::drive_config& d) { d.product_after_restart = std::string("DVD-RW  KWR-32\0 ", 16); }),
    restarts_showing("revision_suffix_after_restart",
                     [](emu::drive_config& d) { d.revision_suffix_after_restart = "x"; }),
    {"month_name_image", [](emu::drive_config&) {}, ANSWERS_GIVEN, "exit 0, updated 1,", 0,
     [](image_fields& f) {
         f.vendor_product = "Lumaris DVD-RW  KWR-322 ";
         f.date = "Jul25 2008";
     }},
    {"image_changed_before_the_retry", [](emu::drive_config& d) { d.stay_in_update_mode = true; }, ANSWERS_GIVEN,
     "exit 1, updated 0,", 0, nullptr, true},
    // Held during the only drive's update: its result stands, and the run ends as without it.
    {"interrupt_during_the_update", [](emu::drive_config&) {}, ANSWERS_GIVEN, "exit 0, updated 1,", 0, nullptr, false, 1},
    // Drives the run cannot reach or read when it lists them: no target, and
    // never "nothing here" (the check's unreadable or update-firmware).
    unreached("first_inquiry_never_answered", [](emu::drive_config& d) { d.injected = {expect::lost_at(1, emu::fault_kind::timeout)}; }),
    unreached("first_inquiry_lost", [](emu::drive_config& d) { d.injected = {expect::lost_at(1, emu::fault_kind::transport)}; }),
    unreached("first_inquiry_busy", [](emu::drive_config& d) { d.injected = {expect::lost_at(1, emu::fault_kind::busy)}; }),
    unreached("first_inquiry_not_ready", [](emu::drive_config& d) { d.injected = {expect::sense_at(1, 0x02, 0x04, 0x01)}; }),
    unreached("identity_unreadable", [](emu::drive_config& d) { d.injected = {expect::sense_at(2, 0x04, 0x44, 0x00)}; }),
    unreached("identity_unreadable_in_update_firmware",
              [](emu::drive_config& d) {
                  d.starts_in_update_mode = true;
                  d.injected = {expect::sense_at(2, 0x04, 0x44, 0x00)};
              }),
};

// --- watching a run -----------------------------------------------------------

// What happened, in order: a command (its index in the drive's log), a console
// write or a message box (their text).
struct event {
    enum kind_t { command, console, box } kind;
    size_t index = 0;
    std::string text;
};

struct bound_exceeded {};

// Reads the simulated host's trace as it is written, keeps the events in order,
// and stops a run that goes past its bounds by throwing through the updater.
class trace_watch : public std::streambuf {
  public:
    trace_watch(const sim::machine& h, size_t command_limit, std::vector<event>& events)
        : host_(h), command_limit_(command_limit), events_(events) {}
    size_t commands() const { return commands_; }
    // Called with each box's text as it is shown.
    std::function<void(const std::string&)> on_box;
    // An update window closed with the drive in its update firmware, and the platform told otherwise.
    bool left_untold() const { return left_untold_; }

  protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        line_ += static_cast<char>(c);
        if (c == '\n') end_line();
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        for (std::streamsize i = 0; i < n; ++i) overflow(static_cast<unsigned char>(s[i]));
        return n;
    }

  private:
    void end_line() {
        if (line_.find("\"ev\":\"command\"") != std::string::npos) {
            ++commands_;
            events_.push_back({event::command, host_.drives.at(0).drive->log().size() - 1, {}});
        } else if (line_.find("\"ev\":\"console\"") != std::string::npos) {
            events_.push_back({event::console, 0, host_.console.substr(console_seen_)});
            console_seen_ = host_.console.size();
        } else if (line_.find("\"ev\":\"box\"") != std::string::npos) {
            events_.push_back({event::box, host_.boxes.size() - 1, host_.boxes.back().text});
            if (on_box) on_box(host_.boxes.back().text);
        } else if (line_.find("\"ev\":\"update-end\"") != std::string::npos) {
            if (host_.drives.at(0).drive->in_update_mode() && host_.update_windows.back().left_in_update_firmware == 0)
                left_untold_ = true;
        }
        line_.clear();
        if (commands_ > command_limit_ || host_.elapsed_ms > VIRTUAL_TIME_ALLOWED_MS) throw bound_exceeded{};
    }

    const sim::machine& host_;
    size_t command_limit_;
    std::vector<event>& events_;
    std::string line_;
    size_t commands_ = 0;
    size_t console_seen_ = 0;
    bool left_untold_ = false;
};

// Ends the process, naming the run, when a run takes longer than any run can in
// real time: a loop in the updater that never calls the host is not stopped by
// the trace.
class watchdog {
  public:
    watchdog() : thread_([this] { watch(); }) {}
    ~watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void arm(const std::string& run) {
        std::lock_guard<std::mutex> lock(mutex_);
        run_ = run;
        deadline_ = std::chrono::steady_clock::now() + WALL_TIME_ALLOWED;
        armed_ = true;
        changed_.notify_all();
    }
    void disarm() {
        std::lock_guard<std::mutex> lock(mutex_);
        armed_ = false;
        changed_.notify_all();
    }

  private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            if (!armed_) {
                changed_.wait(lock);
                continue;
            }
            if (changed_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                std::fprintf(stderr, "fault sweep: run %s did not end within %lld s\n", run_.c_str(),
                             static_cast<long long>(WALL_TIME_ALLOWED.count()));
                std::abort();
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopping_ = false;
    bool armed_ = false;
    std::chrono::steady_clock::time_point deadline_;
    std::string run_;
    std::thread thread_;
};

watchdog& the_watchdog() {
    static watchdog dog;
    return dog;
}

const std::vector<uint8_t>& the_image() {
    static const std::vector<uint8_t> image = build_image(image_fields{});
    return image;
}

// The checksum file a release folder holds beside `image`, as sha256sum writes it.
std::vector<uint8_t> checksum_file_of(const std::vector<uint8_t>& image) {
    uint8_t digest[SHA256_SIZE];
    sha256(image.data(), image.size(), digest);
    const std::string line = sha256_text(digest) + "  " + IMAGE_FILE + "\n";
    return {line.begin(), line.end()};
}

// The image file of the run under way, as the run first finds it.
const std::vector<uint8_t>* run_image = &the_image();

// --- one run and its invariants -----------------------------------------------

struct run_outcome {
    std::vector<std::string> broken;  // each invariant broken, in words
    size_t commands = 0;              // commands the drive received
    std::vector<emu::command_record> log;
    std::string summary;  // exit code and the messages in order
    size_t replacement_commands = 0;  // commands the drive that took its letter received
};

// A finished run as the invariants read it.
struct run_view {
    const sim::machine& h;
    const std::vector<event>& events;
    int exit_code;
    const emu::virtual_drive& drive;
    const std::vector<emu::command_record>& log;
    std::map<int, int> shown;  // times each message was shown (a box of a console message counts once)
    bool holds_image = false;         // the drive re-flashed the whole image byte for byte
    bool holds_new_firmware = false;  // and runs it, reporting the new revision
    int latest_answer = -1;           // the last answer to an update question (-1: none asked)
    // Another drive took the drive's letter: every call for the drive after
    // its last command was refused by the system (Windows error 55).
    bool lost() const { return h.drives.at(0).attachment != 0; }
};
using report = std::function<void(const std::string&)>;

void keeps_to_its_exit_codes(const run_view& r, const report& broken) {
    if (r.exit_code != 0 && r.exit_code != 1) broken("exit code " + std::to_string(r.exit_code));
    // The run stopped, or ended for a question nobody could see, exactly when the exit code says so.
    const bool not_shown = std::any_of(r.h.notices.begin(), r.h.notices.end(), [](const std::string& notice) {
        return notice.rfind("odd-fwupdate: a question could not be shown", 0) == 0;
    });
    const bool stopped = r.shown.count(36) || r.shown.count(28) || not_shown;
    if ((r.exit_code == 1) != stopped)
        broken("exit code " + std::to_string(r.exit_code) + (stopped ? " after" : " without") +
               " message 36 or 28 or a notice");
}

void never_waits_for_nothing(const run_view& r, const report& broken) {
    if (r.h.hung) broken("waited for an event nothing could signal");
}

void shows_only_catalogue_messages(const run_view& r, const report& broken) {
    for (const event& e : r.events) {
        if (e.kind == event::console && e.text.find(UNKNOWN_MESSAGE) != std::string::npos)
            broken("an unknown message code was shown");
        if (e.kind == event::console && message_code(e.text) == 47) broken("the retry question was printed instead of asked");
    }
}

// Success only for a pass that sent every block of the image and then the
// leave command: counted back from message 12 to the pass's first block.
void success_needs_a_whole_pass(const run_view& r, const report& broken) {
    const size_t blocks_in_image = (run_image->size() + 0x7FFF) / 0x8000;
    for (size_t i = 0; i < r.events.size(); ++i) {
        if (r.events[i].kind != event::console || message_code(r.events[i].text) != 12) continue;
        size_t blocks = 0, leaves = 0;
        for (size_t j = i; j-- > 0;) {
            if (r.events[j].kind != event::command) continue;
            const emu::command_record& c = r.log[r.events[j].index];
            if (!is_write_buffer(c.cdb) || c.cdb.size() < 6) continue;
            const int mode = c.cdb[1] & 0x1F;
            if (mode == 5) ++leaves;
            if (mode == 7 && !failed(c)) ++blocks;
            if (mode == 7 && c.cdb[3] == 0 && c.cdb[4] == 0 && c.cdb[5] == 0) break;
        }
        if (blocks != blocks_in_image || leaves == 0)
            broken("message 12 after a pass of " + std::to_string(blocks) + " accepted blocks and " +
                   std::to_string(leaves) + " leave commands");
    }
}

// A drive that keeps coming back in its update firmware gets three passes.
void three_passes_at_most(const run_view& r, const report& broken) {
    if (r.h.update_windows.size() > 3) broken(std::to_string(r.h.update_windows.size()) + " passes");
}

void names_a_drive_left_in_update_firmware(const run_view& r, const report& broken) {
    const auto state = r.h.firmware_states.find(1);
    const bool named = state != r.h.firmware_states.end() && state->second == 1;
    if (r.drive.in_update_mode() && !named) broken("the drive is left in its update firmware and not named");
    // Named only when it may be there: a command lost on the way leaves the
    // run unsure; one the system refused before it left (pass-through only:
    // the ASPI manager cannot tell) leaves it sure.
    const bool aspi = r.h.drives.at(0).adapter >= 0;
    const bool unsure = r.lost() || std::any_of(r.log.begin(), r.log.end(), [&](const emu::command_record& c) {
        return c.result.timed_out || (c.result.transport_failure && (aspi || !c.result.refused));
    });
    if (named && !r.drive.in_update_mode() && !unsure)
        broken("the drive is named as left in its update firmware though it answered every command in other firmware");
}

// Success is claimed only for a drive that holds the whole image under the new revision.
void success_only_for_the_new_firmware(const run_view& r, const report& broken) {
    const int shown_12 = r.shown.count(12) ? r.shown.at(12) : 0;
    if (shown_12 > 0 && !r.holds_image) broken("message 12 for a drive that does not hold the image byte for byte");
    if (shown_12 > 0 && r.drive.reported_revision() != NEW_REVISION)
        broken("message 12 for a drive that reports revision \"" + r.drive.reported_revision() + "\"");
    // The drive starts a release behind the image, so only a re-flash during the
    // run can make it look up to date.
    if (r.shown.count(54) && !r.holds_new_firmware) broken("message 54 for a drive that does not hold the new firmware");
    if (updated_count != shown_12)
        broken("updated_count " + std::to_string(updated_count) + " after " + std::to_string(shown_12) + " times message 12");
    if (r.shown.count(35) != (updated_count == 1 ? 1u : 0u)) broken("message 35 does not match updated_count");
}

// A drive that went into its update firmware and did not come back with the
// new one is never passed over.
void a_failed_update_is_told(const run_view& r, const report& broken) {
    const bool entered = std::any_of(r.log.begin(), r.log.end(), [](const emu::command_record& c) {
        return c.cdb.size() > 2 && c.cdb[0] == 0x3B && c.cdb[1] == 4 && c.cdb[2] == 0xFF && !failed(c);
    });
    if (!entered || r.holds_new_firmware) return;
    bool told = r.shown.count(42) || r.shown.count(47) || r.shown.count(36);
    bool after_15 = false;
    for (const event& e : r.events) {
        if (e.kind == event::console && message_code(e.text) == 15) after_15 = true;
        if (after_15 && e.kind == event::console && e.text.rfind(NEW_REVISION_LINE, 0) == 0) told = true;
    }
    if (!told) broken("drive left without the new firmware and the user was not told");
    if (r.shown.count(12) || r.shown.count(35) || updated_count != 0)
        broken("success claimed for a drive left without the new firmware");
}

// Only a Yes to the update question flashes: every WRITE BUFFER follows a
// question whose latest answer was Yes.
void only_a_yes_flashes(const run_view& r, const report& broken) {
    int latest_answer = -1;
    for (const event& e : r.events) {
        if (e.kind == event::box && e.text.find(UPDATE_QUESTION) != std::string::npos)
            latest_answer = r.h.boxes[e.index].answer;
        if (e.kind == event::command && is_write_buffer(r.log[e.index].cdb) && latest_answer != IDYES) {
            broken("command " + std::to_string(e.index + 1) + " (" + expect::hex(r.log[e.index].cdb) +
                   ") without a Yes to the update question");
            return;
        }
    }
}

// A drive that was not updated is never passed over in silence, unless the
// user was asked and did not say Yes.
void no_drive_passed_over_in_silence(const run_view& r, const report& broken) {
    if (r.shown.count(12)) return;
    bool told = r.latest_answer != -1 && r.latest_answer != IDYES;
    for (int code : NOT_UPDATED_MESSAGES) told = told || r.shown.count(code);
    if (!told) broken("the drive was not updated and no message says so");
}

// Each failure told once: a message that tells a command's failure belongs
// to the last command sent before it, which must have failed, and no two
// such messages belong to the same command.
void each_failure_told_once(const run_view& r, const report& broken) {
    long last_command = -1;
    std::vector<bool> claimed(r.log.size(), false);
    for (const event& e : r.events) {
        if (e.kind == event::command) {
            last_command = static_cast<long>(e.index);
            continue;
        }
        int code = e.kind == event::console ? message_code(e.text) : -1;
        if (!listed(COMMAND_FAILURE_MESSAGES, code)) continue;
        const std::string which = "message " + std::to_string(code);
        // Message 42 also tells that the drive came back without the image's
        // firmware: the verdict on the INQUIRY that read it. Message 9 also
        // tells an INQUIRY answer too short to hold the revision and the date.
        const bool after_inquiry = last_command >= 0 && is_inquiry(r.log[static_cast<size_t>(last_command)].cdb);
        const bool verdict = (code == 42 && after_inquiry && !r.holds_new_firmware) ||
                             (code == 9 && after_inquiry && r.log[static_cast<size_t>(last_command)].result.transferred < 45);
        // The calls after a lost drive's last command were refused one by one.
        if (r.lost() && last_command == static_cast<long>(r.log.size()) - 1) continue;
        if (last_command < 0) {
            broken(which + " before any command");
        } else if (!verdict && !failed(r.log[static_cast<size_t>(last_command)])) {
            broken(which + " after command " + std::to_string(last_command + 1) + ", which succeeded");
        } else if (claimed[static_cast<size_t>(last_command)]) {
            broken(which + " tells again the failure of command " + std::to_string(last_command + 1));
        }
        if (last_command >= 0) claimed[static_cast<size_t>(last_command)] = true;
    }
    for (int code : RUN_ENDING_MESSAGES)
        if (r.shown.count(code) && r.shown.at(code) > 1)
            broken("message " + std::to_string(code) + " shown " + std::to_string(r.shown.at(code)) + " times");
}

// Every WRITE BUFFER goes out inside an update window, which closes.
void flashes_only_in_an_update_window(const run_view& r, const report& broken) {
    const auto& windows = r.h.update_windows;
    for (size_t i = 0; i < r.log.size(); ++i) {
        const bool inside = std::any_of(windows.begin(), windows.end(), [&](const sim::update_window& w) {
            return w.left_in_update_firmware != -1 && w.commands_at_begin <= i && i < w.commands_at_end;
        });
        if (is_write_buffer(r.log[i].cdb) && !inside) {
            broken("command " + std::to_string(i + 1) + " (" + expect::hex(r.log[i].cdb) + ") outside an update window");
            break;
        }
    }
    if (!windows.empty() && windows.back().left_in_update_firmware == -1) broken("an update window never closed");
}

// Nothing taken from the host is still held.
void gives_back_what_it_took(const run_view& r, const report& broken) {
    const sim::machine& h = r.h;
    if (h.open_handles() != 0) broken(std::to_string(h.open_handles()) + " handles left open");
    if (h.open_events() != 0) broken(std::to_string(h.open_events()) + " events left open");
    if (h.open_keys() != 0) broken(std::to_string(h.open_keys()) + " registry keys left open");
    if (h.open_timer_periods() != 0) broken(std::to_string(h.open_timer_periods()) + " timer periods left open");
    if (h.live_global_blocks() != 0) broken(std::to_string(h.live_global_blocks()) + " global blocks left allocated");
    if (!h.pending_.empty()) broken("an ASPI request still in flight at exit");
}

// The switch into update firmware is left out only for a drive whose identity
// block and INQUIRY answer both showed that firmware: here, one that started in it.
void switches_before_the_first_block(const run_view& r, const report& broken) {
    if (r.drive.config().starts_in_update_mode) return;
    for (size_t i = 0; i < r.log.size(); ++i) {
        const std::vector<uint8_t>& cdb = r.log[i].cdb;
        if (!is_write_buffer(cdb) || cdb.size() < 3) continue;
        if ((cdb[1] & 0x1F) == 4 && !failed(r.log[i])) return;
        if ((cdb[1] & 0x1F) == 7) {
            broken("command " + std::to_string(i + 1) + " (an image block) before any accepted switch");
            return;
        }
    }
}

// A block the drive did not take whole is followed by no later block nor the
// leave command, which would re-flash what the drive holds, before a new pass
// sends the image from its first block again; nor is such a drive told as updated.
void leaves_only_after_whole_blocks(const run_view& r, const report& broken) {
    bool part_held = false;
    for (size_t i = 0; i < r.log.size(); ++i) {
        const std::vector<uint8_t>& cdb = r.log[i].cdb;
        if (!is_write_buffer(cdb) || cdb.size() < 6) continue;
        const int mode = cdb[1] & 0x1F;
        if (mode == 4 || (mode == 7 && cdb[3] == 0 && cdb[4] == 0 && cdb[5] == 0)) part_held = false;
        if (mode == 7 && part_held) {
            broken("command " + std::to_string(i + 1) + " (an image block) sent on after a block the drive did not take whole");
            return;
        }
        if (mode == 7 && taken_in_part(r.log[i])) part_held = true;
        if (mode == 5 && part_held) {
            broken("command " + std::to_string(i + 1) + " (the leave command) after a block the drive did not take whole" +
                   (r.shown.count(12) ? ", and the drive told as updated" : ""));
            return;
        }
    }
}

// Every re-flash is of the bytes the run first found in the image file.
void flashes_only_the_first_read(const run_view& r, const report& broken) {
    if (r.drive.reflash_count() > 0 && !r.drive.flashed_image().empty() && r.drive.flashed_image() != *run_image)
        broken("the drive re-flashed bytes other than the image the run first read");
}

// The record every run keeps (--log): whole lines of JSON, one run id, a
// final line for the drive (after its `updating` line, if any) and the
// run's line last with the run's exit code.
std::string record_path() {
    static const std::string path = "/tmp/odd-sweep-" + std::to_string(::getpid()) + ".log";
    return path;
}

constexpr size_t AS_THE_RUN_LINE_SAYS = static_cast<size_t>(-1);

// One record, as the file holds it: `where` says which ending it is of.
void check_record(std::istream& in, int exit_code, size_t drives, const std::string& where, const report& broken) {
    std::vector<nlohmann::json> lines;
    for (std::string line; std::getline(in, line);) {
        try {
            lines.push_back(nlohmann::json::parse(line));
        } catch (const nlohmann::json::exception&) {
            broken(where + "a record line is not JSON: " + line.substr(0, 80));
            return;
        }
    }
    std::set<std::string> finals;
    for (const nlohmann::json& line : lines) {
        if (line.value("run_id", "") != lines.front().value("run_id", "")) broken(where + "two run ids in one run");
        if (line.value("record", "") == "drive" && line.value("result", "") != "updating" &&
            !finals.insert(line.value("device", "")).second)
            broken(where + "two final records of " + line.value("device", ""));
        // A message recorded is one shown, its fields filled in; a drive left
        // in its update firmware is told by the line that names it.
        const std::string message = line.value("message", "");
        if (message.find('%') != std::string::npos) broken(where + "a message recorded unfilled: " + message);
        if (line.value("result", "") == "left-in-update-firmware" &&
            message.find("is still in its update firmware") == std::string::npos)
            broken(where + "a drive left in its update firmware recorded with \"" + message + "\"");
    }
    if (lines.empty() || lines.back().value("record", "") != "run" || lines.back().value("exit_code", -1) != exit_code)
        broken(where + "the run's line is not the record's last, with its exit code");
    // Before the drives are listed, the run's line says none.
    if (drives == AS_THE_RUN_LINE_SAYS && !lines.empty()) drives = lines.back().value("drives", size_t{0});
    if (finals.size() != drives)
        broken(where + std::to_string(finals.size()) + " final drive records for " + std::to_string(drives) + " drives");
}

// However the run ends, by itself or by an interrupt at any question.
void keeps_a_record_of_every_ending(const run_view& r, const report& broken) {
    if (options.log.empty()) return;  // a made-up run keeps none
    std::ifstream in(record_path());
    // Every drive the machine has gets its final line, reached or not.
    check_record(in, r.exit_code, r.h.drives.size(), "", broken);
    for (size_t i = 0; i < r.h.records_ended_at_questions.size(); ++i) {
        std::istringstream ended(r.h.records_ended_at_questions[i]);
        check_record(ended, 130, r.h.drives.size(), "ended at question " + std::to_string(i + 1) + ": ", broken);
    }
    // A way out between any two steps the run takes on its record sees it
    // before the steps or after them: each drive's final line once, and the run's.
    for (size_t i = 0; i < r.h.records_ended_between_steps.size(); ++i) {
        std::istringstream ended(r.h.records_ended_between_steps[i]);
        check_record(ended, 130, AS_THE_RUN_LINE_SAYS, "ended after step " + std::to_string(i + 1) + ": ", broken);
    }
}

// A drive's line names the system's words for a failed call of the drive,
// and only for one: on the pass-through route the error the call failed
// with, which the line of a drive whose last command failed so never lacks.
void records_the_system_s_words(const run_view& r, const report& broken) {
    if (options.log.empty()) return;
    const bool aspi = r.h.drives.at(0).adapter >= 0;
    std::set<std::string> given;
    if (r.lost()) given.insert("Windows error " + std::to_string(ERROR_DEV_NOT_EXIST));
    for (const emu::command_record& c : r.log) {
        if (aspi && taken_in_part(c)) given.insert("ASPI status");  // the adapter's underrun
        if (!c.result.transport_failure && !c.result.timed_out) continue;
        given.insert(aspi ? "ASPI status" : "Windows error " + std::to_string(sim::pass_through_error(c.result)));
    }
    const bool last_failed = !r.log.empty() && (r.log.back().result.transport_failure || r.log.back().result.timed_out);
    std::ifstream in(record_path());
    for (std::string text; std::getline(in, text);) {
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
        if (line.is_discarded() || line.value("record", "") != "drive") continue;
        const std::string words = line.value("system_error", "");
        if (!words.empty() && std::none_of(given.begin(), given.end(), [&](const std::string& g) { return words.rfind(g, 0) == 0; }))
            broken("system_error \"" + words + "\" recorded with no failed call that gives it");
        const std::string result = line.value("result", "updated");
        const bool told = result != "updating" && result != "updated" && result != "up-to-date" && result != "declined";
        if (!aspi && told && last_failed && words.empty()) broken("the drive's last failed call recorded without the system's words");
    }
}

// A drive's outcome read anew: the run's word for it, whether it is named at
// the end as in its update firmware, and what it tells a deployment tool.
struct telling {
    std::string word;
    bool named;
    int code;
};
telling told_by(const drive_outcome& o) {
    if (o.fate == drive_fate::update_firmware) return {"update-firmware", true, 7};
    if (o.in_update_firmware) return {"left-in-update-firmware", true, 7};
    const bool image = o.reason == outcome_reason::image_refused || o.reason == outcome_reason::image_changed;
    switch (o.fate) {
    case drive_fate::updated: return {"updated", false, 0};
    case drive_fate::up_to_date: return {"up-to-date", false, 0};
    case drive_fate::declined: return {"declined", false, 1};
    case drive_fate::failed: return {"failed", false, image ? 6 : 1};
    case drive_fate::left_as_is: return {"left-as-is", false, o.reason == outcome_reason::question_not_shown ? 1 : 5};
    case drive_fate::unreadable: return {"unreadable", false, o.reason == outcome_reason::no_right ? 1 : 5};
    case drive_fate::not_this_model: return {"not-this-model", false, 4};
    case drive_fate::not_visited: return {"not-visited", false, 5};
    default: return {"(no fate)", false, -1};
    }
}

// Every drive listed has an outcome, and the record's word for it, the drives
// named at the end and the run's exit code for a deployment tool are what
// its outcome tells.
void tells_each_drive_by_its_outcome(const run_view& r, const report& broken) {
    if (options.log.empty()) return;
    std::map<std::string, std::string> words;  // final word by device
    std::ifstream in(record_path());
    for (std::string text; std::getline(in, text);) {
        const nlohmann::json line = nlohmann::json::parse(text, nullptr, false);
        if (!line.is_discarded() && line.value("record", "") == "drive" && line.value("result", "") != "updating")
            words[line.value("device", "")] = line.value("result", "");
    }
    if (static_cast<size_t>(listed_count) != r.h.drives.size())
        broken(std::to_string(listed_count) + " drives listed of " + std::to_string(r.h.drives.size()));
    int named = 0, code = 4;
    for (int i = 0; i < listed_count; ++i) {
        const telling t = told_by(listed_drives[i].outcome);
        const std::string device = listed_drive_name(i);
        if (words[device].rfind(t.word, 0) != 0)
            broken(device + " recorded as \"" + words[device] + "\", its outcome tells \"" + t.word + "\"");
        named += t.named ? 1 : 0;
        if (t.word != "not-this-model") code = code == 4 ? t.code : more_urgent(code, t.code);
    }
    const int named_at_end = static_cast<int>(std::count_if(r.h.firmware_states.begin(), r.h.firmware_states.end(),
                                                            [](const auto& state) { return state.second == 1; }));
    if (named_at_end != named)
        broken(std::to_string(named_at_end) + " drives named at the end, their outcomes name " + std::to_string(named));
    if (fleet_exit_code() != code)
        broken("exit code for a fleet " + std::to_string(fleet_exit_code()) + ", the outcomes tell " + std::to_string(code));
}

struct named_invariant {
    const char* name;
    void (*check)(const run_view&, const report&);
};

// The promises every run keeps; a broken one is named in what it reports.
const named_invariant INVARIANTS[] = {
    {"exit codes", keeps_to_its_exit_codes},
    {"system's words", records_the_system_s_words},
    {"no endless wait", never_waits_for_nothing},
    {"catalogue messages", shows_only_catalogue_messages},
    {"whole pass", success_needs_a_whole_pass},
    {"three passes", three_passes_at_most},
    {"named when left", names_a_drive_left_in_update_firmware},
    {"success only for the new firmware", success_only_for_the_new_firmware},
    {"failed update told", a_failed_update_is_told},
    {"only a yes", only_a_yes_flashes},
    {"not passed over", no_drive_passed_over_in_silence},
    {"told once", each_failure_told_once},
    {"update window", flashes_only_in_an_update_window},
    {"given back", gives_back_what_it_took},
    {"switch first", switches_before_the_first_block},
    {"first read", flashes_only_the_first_read},
    {"whole blocks", leaves_only_after_whole_blocks},
    {"record", keeps_a_record_of_every_ending},
    {"one outcome", tells_each_drive_by_its_outcome},
};

void check_invariants(const sim::machine& h, const std::vector<event>& events, int exit_code, run_outcome& out) {
    const emu::virtual_drive& drive = *h.drives.at(0).drive;
    run_view view{h, events, exit_code, drive, drive.log(), {}};
    // The messages in the order shown; console writes and boxes of the same text
    // (kinds 16 to 18 show both) are one message, told on the console.
    std::vector<int> order;
    for (const event& e : events) {
        if (e.kind == event::box && e.text.find(UPDATE_QUESTION) != std::string::npos) view.latest_answer = h.boxes[e.index].answer;
        if (e.kind == event::command) continue;
        const int code = message_code(e.text);
        if (code < 0) continue;
        const bool question = code == 47;
        if (e.kind == event::box && !question) continue;
        if (e.kind == event::console && question) continue;
        ++view.shown[code];
        order.push_back(code);
    }
    view.holds_image = drive.flashed_image() == *run_image;
    // A drive made to show another date, identity or suffix after its restart
    // does not show the image it holds.
    const emu::drive_config& c = drive.config();
    const bool shows_other = !c.date_after_restart.empty() || !c.vendor_after_restart.empty() ||
                             !c.product_after_restart.empty() || !c.revision_suffix_after_restart.empty();
    view.holds_new_firmware =
        view.holds_image && !drive.in_update_mode() && drive.reported_revision() == NEW_REVISION && !shows_other;

    std::ostringstream summary;
    summary << "exit " << exit_code << ", updated " << updated_count << ", " << h.elapsed_ms / 1000 << " s, messages";
    for (int code : order) summary << ' ' << code;
    out.summary = summary.str();

    for (const named_invariant& invariant : INVARIANTS)
        invariant.check(view, [&](const std::string& what) { out.broken.push_back(std::string(invariant.name) + ": " + what); });
}

run_outcome run_update(const route& r, const emu::drive_config& drive, size_t command_limit, const std::string& name,
                       size_t answers = ANSWERS_GIVEN, int then = 0, const drive_behaviour* behaviour = nullptr) {
    run_outcome out;
    reset_run_state();
    std::vector<uint8_t> own_image;
    if (behaviour && behaviour->image) {
        image_fields fields;
        behaviour->image(fields);
        own_image = build_image(fields);
        run_image = &own_image;
    }
    {
        sim::machine h;
        h.cfg.files[IMAGE_FILE] = *run_image;
        h.cfg.answers.assign(answers, IDYES);
        if (then != 0) h.cfg.answers.insert(h.cfg.answers.end(), ANSWERS_GIVEN, then);
        r.set_up(h, drive);
        if (behaviour) h.cfg.interrupt_in_update = behaviour->interrupt_in_update;
        if (behaviour && behaviour->replaced_after != 0) {
            emu::drive_config other;
            other.revision = NEW_REVISION;
            h.drives.at(0).replaced_after_command = behaviour->replaced_after;
            h.drives.at(0).replacement = std::make_shared<emu::virtual_drive>(other);
        }
        std::ofstream(record_path(), std::ios::trunc);
        options.log = record_path();
        h.install();

        std::vector<event> events;
        trace_watch watch(h, command_limit, events);
        if (behaviour && behaviour->image_changes_at_retry)
            watch.on_box = [&h](const std::string& text) {
                if (text.find("Do you retry") != std::string::npos)
                    h.cfg.files[IMAGE_FILE][0x100000] = static_cast<uint8_t>(~(*run_image)[0x100000]);
            };
        std::ostream trace(&watch);
        trace.exceptions(std::ios::badbit);
        h.set_trace(&trace);

        int exit_code = -1;
        bool ended = true;
        the_watchdog().arm(name);
        try {
            exit_code = updater_main(0, nullptr);
        } catch (const bound_exceeded&) {
            ended = false;
        }
        the_watchdog().disarm();
        h.set_trace(nullptr);

        out.log = h.drives.at(0).drive->log();
        out.commands = out.log.size();
        if (h.drives.at(0).replacement) out.replacement_commands = h.drives.at(0).replacement->log().size();
        if (ended) {
            check_invariants(h, events, exit_code, out);
            if (watch.left_untold()) out.broken.push_back("a drive left in its update firmware was told as not left");
        } else {
            out.broken.push_back("did not end within " + std::to_string(command_limit) + " commands and " +
                                 std::to_string(VIRTUAL_TIME_ALLOWED_MS / 60000) + " virtual minutes (" +
                                 std::to_string(h.boxes.size()) + " boxes answered Yes)");
            out.summary = NOT_ENDED;
        }
    }
    reset_run_state();
    run_image = &the_image();
    return out;
}

// The clean run of each route, made once.
const run_outcome& clean_run(size_t route_index) {
    static std::map<size_t, run_outcome> runs;
    auto it = runs.find(route_index);
    if (it == runs.end()) {
        const route& r = ROUTES[route_index];
        it = runs.emplace(route_index, run_update(r, emu::drive_config{}, 100000, std::string(r.name) + " clean")).first;
    }
    return it->second;
}

size_t runs_made = 0;
size_t runs_broken = 0;
size_t runs_given_up = 0;
size_t breaks_seen = 0;

// --- the tests ------------------------------------------------------------------

// The checks themselves, on made-up runs that each keep or break one promise.
class invariant_checks : public ::testing::Test {
  protected:
    void SetUp() override {
        reset_run_state();
        h.add_drive_at_letter('E');
    }
    void TearDown() override { reset_run_state(); }
    // Sends `cdb` to the drive and records it as the next event.
    void command(std::vector<uint8_t> cdb) {
        uint8_t data[96] = {};
        const bool in = cdb[0] == 0x12;
        h.drive(0).execute(cdb.data(), cdb.size(), in ? emu::DIR_IN : emu::DIR_NONE, in ? data : nullptr,
                           in ? sizeof data : 0, 5000, 0);
        events.push_back({event::command, h.drive(0).log().size() - 1, {}});
    }
    void say(int code) {
        for (const message_text& m : messages())
            if (m.code == code) {
                h.console += m.text;
                events.push_back({event::console, 0, m.text});
            }
    }
    bool breaks(int exit_code, const std::string& start) {
        run_outcome out;
        check_invariants(h, events, exit_code, out);
        // Each break is "invariant: what"; `start` is the start of what.
        for (const std::string& b : out.broken)
            if (b.find(": " + start) != std::string::npos) return true;
        return false;
    }
    size_t broken_count(int exit_code) {
        run_outcome out;
        check_invariants(h, events, exit_code, out);
        return out.broken.size();
    }

    const std::vector<uint8_t> INQUIRY{0x12, 0x00, 0x00, 0x00, 0x60, 0x00};
    const std::vector<uint8_t> TEST_UNIT_READY{0x00, 0x00, 0x00, 0x00, 0x00, 0x00};  // no disc: CHECK CONDITION
    sim::machine h;
    std::vector<event> events;
};

TEST_F(invariant_checks, a_failure_told_once_keeps_them_all) {
    command(INQUIRY);
    command(TEST_UNIT_READY);
    say(7);
    EXPECT_EQ(broken_count(0), 0u);
}

TEST_F(invariant_checks, a_failure_told_twice_breaks_them) {
    command(TEST_UNIT_READY);
    say(7);
    say(7);
    EXPECT_TRUE(breaks(0, "message 7 tells again the failure of command 1"));
}

TEST_F(invariant_checks, a_failure_told_after_a_command_that_succeeded_breaks_them) {
    command(INQUIRY);
    say(9);
    EXPECT_TRUE(breaks(0, "message 9 after command 1, which succeeded"));
}

TEST_F(invariant_checks, success_for_a_drive_without_the_image_breaks_them) {
    command(INQUIRY);
    say(12);
    updated_count = 1;
    say(35);
    EXPECT_TRUE(breaks(0, "message 12 for a drive that does not hold the image"));
    EXPECT_TRUE(breaks(0, "message 12 for a drive that reports revision \"1.23\""));
}

TEST_F(invariant_checks, a_drive_passed_over_in_silence_breaks_them) {
    command(INQUIRY);
    EXPECT_TRUE(breaks(0, "the drive was not updated and no message says so"));
}

TEST_F(invariant_checks, an_exit_code_that_does_not_match_the_messages_breaks_them) {
    command(TEST_UNIT_READY);
    say(7);
    EXPECT_TRUE(breaks(1, "exit code 1 without message 36 or 28"));
    say(36);
    EXPECT_TRUE(breaks(0, "exit code 0 after message 36 or 28"));
}

TEST_F(invariant_checks, a_write_buffer_outside_an_update_window_breaks_them) {
    command({0x3B, 0x04, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00});
    EXPECT_TRUE(breaks(0, "command 1 (3B 04 FF 00 00 00 00 01 00 00) outside an update window"));
}

class clean_update : public ::testing::TestWithParam<size_t> {};

TEST_P(clean_update, updates_the_drive_and_keeps_every_invariant) {
    const run_outcome& run = clean_run(GetParam());
    for (const std::string& b : run.broken) ADD_FAILURE() << b;
    EXPECT_EQ(run.summary.rfind("exit 0, updated 1,", 0), 0u) << run.summary;
    // The sweep is only as wide as the clean run: the whole image in 32 KiB blocks.
    size_t blocks = 0;
    for (const emu::command_record& r : run.log)
        if (r.cdb.size() > 2 && r.cdb[0] == 0x3B && r.cdb[1] == 7 && r.cdb[2] == 0xF0) ++blocks;
    EXPECT_EQ(blocks, the_image().size() / 0x8000);
    for (size_t i = 0; i < run.log.size(); ++i) {
        const emu::command_record& r = run.log[i];
        if (failed(r)) {
            EXPECT_TRUE(is_test_unit_ready(r.cdb)) << "command " << i + 1 << " failed: " << expect::hex(r.cdb);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(route, clean_update, ::testing::Range<size_t>(0, std::size(ROUTES)),
                         [](const ::testing::TestParamInfo<size_t>& p) { return std::string(ROUTES[p.param].name); });

class fault_sweep : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

TEST_P(fault_sweep, every_command_failing_keeps_every_invariant) {
    const size_t route_index = std::get<0>(GetParam());
    const route& r = ROUTES[route_index];
    const failure_kind& kind = FAILURES[std::get<1>(GetParam())];
    const run_outcome& clean = clean_run(route_index);
    ASSERT_TRUE(clean.broken.empty()) << "the clean run of this route is broken";
    const size_t n = clean.log.size();
    const bool table = std::getenv("ODD_SWEEP_TABLE") != nullptr;

    for (uint32_t number = 1; number <= n; ++number) {
        const std::vector<uint8_t>& cdb = clean.log[number - 1].cdb;
        emu::injected_fault fault;
        if (!kind.make(number, cdb, fault)) continue;
        const std::string name = std::string(r.name) + ", command " + std::to_string(number) + " (" + expect::hex(cdb) +
                                 "), " + kind.name;
        emu::drive_config drive;
        drive.injected = {fault};
        run_outcome run = run_update(r, drive, PASSES_ALLOWED * n, name);
        ++runs_made;
        if (!run.broken.empty()) ++runs_broken;
        if (run.summary == NOT_ENDED) {
            run_outcome given_up = run_update(r, drive, PASSES_ALLOWED * n, name, ANSWERS_BEFORE_GIVING_UP);
            ++runs_given_up;
            for (const std::string& b : given_up.broken) run.broken.push_back(GIVEN_UP + b);
            run.summary += "; " + GIVEN_UP + given_up.summary;
        }
        for (const std::string& b : run.broken) {
            ++breaks_seen;
            ADD_FAILURE() << name << ": " << b;
        }
        if (table) std::printf("%-16s %-10s %3u  %-29s %s\n", r.name, kind.name, number, expect::hex(cdb).c_str(),
                               run.summary.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(
    route, fault_sweep,
    ::testing::Combine(::testing::Range<size_t>(0, std::size(ROUTES)), ::testing::Range<size_t>(0, std::size(FAILURES))),
    [](const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& p) {
        return std::string(ROUTES[std::get<0>(p.param)].name) + "_" + FAILURES[std::get<1>(p.param)].name;
    });

// The drive unplugged after each command of the clean run and another of the
// model, already up to date, plugged in under its letter at once (the route
// that opens the drive by its letter for every command): the run sends the
// other drive nothing, and never tells a drive it did not finish as updated.
TEST(replaced_drive_sweep, the_drive_in_its_place_hears_nothing) {
    const route& r = ROUTES[0];
    ASSERT_STREQ(r.name, "nt");
    const run_outcome& clean = clean_run(0);
    const size_t n = clean.log.size();
    for (uint32_t after = 1; after < n; ++after) {
        drive_behaviour replaced{"replaced", [](emu::drive_config&) {}, ANSWERS_GIVEN, ""};
        replaced.replaced_after = after;
        const std::string name = std::string(r.name) + ", replaced after command " + std::to_string(after) + " (" +
                                 expect::hex(clean.log[after - 1].cdb) + ")";
        run_outcome run = run_update(r, emu::drive_config{}, PASSES_ALLOWED * n, name, ANSWERS_GIVEN, 0, &replaced);
        ++runs_made;
        if (run.replacement_commands != 0)
            run.broken.push_back(std::to_string(run.replacement_commands) + " commands reached the drive in its place");
        if (run.summary.find("updated 1") != std::string::npos) run.broken.push_back("told as updated: " + run.summary);
        if (!run.broken.empty()) ++runs_broken;
        for (const std::string& broken : run.broken) {
            ++breaks_seen;
            ADD_FAILURE() << name << ": " << broken;
        }
    }
}

class behaviour_sweep : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

TEST_P(behaviour_sweep, keeps_every_invariant) {
    const size_t route_index = std::get<0>(GetParam());
    const route& r = ROUTES[route_index];
    const drive_behaviour& b = BEHAVIOURS[std::get<1>(GetParam())];
    emu::drive_config drive;
    b.set_up(drive);
    const std::string name = std::string(r.name) + ", " + b.name;
    run_outcome run =
        run_update(r, drive, PASSES_ALLOWED * clean_run(route_index).log.size(), name, b.answers, b.then, &b);
    ++runs_made;
    if (!run.broken.empty()) ++runs_broken;
    for (const std::string& broken : run.broken) {
        ++breaks_seen;
        ADD_FAILURE() << name << ": " << broken;
    }
    EXPECT_EQ(run.summary.rfind(b.outcome, 0), 0u) << name << ": " << run.summary;
    if (b.answers == 0 && b.then != IDYES) {
        for (const emu::command_record& c : run.log) EXPECT_FALSE(is_write_buffer(c.cdb)) << expect::hex(c.cdb);
    }
    if (std::getenv("ODD_SWEEP_TABLE"))
        std::printf("%-16s %-38s %s\n", r.name, b.name, run.summary.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    route, behaviour_sweep,
    ::testing::Combine(::testing::Range<size_t>(0, std::size(ROUTES)), ::testing::Range<size_t>(0, std::size(BEHAVIOURS))),
    [](const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& p) {
        return std::string(ROUTES[std::get<0>(p.param)].name) + "_" + BEHAVIOURS[std::get<1>(p.param)].name;
    });

// The check of the drives (--check) on every route and every drive of the
// sweep: it sends nothing but INQUIRY and the identity READ BUFFER, gives back
// what it took, writes one line for the drive, and its exit code says whether
// the update applies (3), not (0), or could not be judged for want of an image (1).
class check_sweep : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

TEST_P(check_sweep, changes_nothing) {
    const route& r = ROUTES[std::get<0>(GetParam())];
    const size_t behaviour = std::get<1>(GetParam());
    emu::drive_config drive;
    image_fields fields;
    if (behaviour < std::size(BEHAVIOURS)) {
        BEHAVIOURS[behaviour].set_up(drive);
        if (BEHAVIOURS[behaviour].image) BEHAVIOURS[behaviour].image(fields);
    }
    reset_run_state();
    {
        sim::machine h;
        h.cfg.files[IMAGE_FILE] = build_image(fields);
        h.cfg.files[IMAGE_FILE + ".sha256"] = checksum_file_of(h.cfg.files[IMAGE_FILE]);
        r.set_up(h, drive);
        h.install();
        options.check = true;
        const int exit_code = updater_main(0, nullptr);
        for (const emu::command_record& c : h.drives.at(0).drive->log())
            EXPECT_TRUE(is_inquiry(c.cdb) || (!c.cdb.empty() && c.cdb[0] == 0x3C)) << expect::hex(c.cdb);
        EXPECT_TRUE(h.boxes.empty());
        EXPECT_EQ(h.open_handles(), 0);
        EXPECT_EQ(h.live_global_blocks(), 0);
        const size_t lines = static_cast<size_t>(std::count(h.console.begin(), h.console.end(), '\n'));
        EXPECT_EQ(lines, 1u) << h.console;
        // The line's verdict is what a deployment tool reads in the exit code.
        const size_t tab = h.console.rfind('\t');
        const std::string word = tab == std::string::npos ? "" : h.console.substr(tab + 1, h.console.size() - tab - 2);
        const std::map<std::string, int> codes = {{"update", 3},     {"update-firmware", 7}, {"up-to-date", 0},
                                                  {"unreadable", 5}, {"not-this-model", 4}};
        const auto code = codes.find(word.substr(0, word.find(' ')));
        ASSERT_NE(code, codes.end()) << h.console;
        EXPECT_EQ(exit_code, code->second) << h.console;
        // A drive in its update firmware is named when the check ends, as every run names it.
        const bool named = std::any_of(h.firmware_states.begin(), h.firmware_states.end(),
                                       [](const auto& state) { return state.second == 1; });
        EXPECT_EQ(named, word == "update-firmware") << h.console;
        EXPECT_FALSE(h.drives.at(0).drive->in_update_mode() && !drive.starts_in_update_mode);
    }
    reset_run_state();
}

INSTANTIATE_TEST_SUITE_P(
    route, check_sweep,
    ::testing::Combine(::testing::Range<size_t>(0, std::size(ROUTES)), ::testing::Range<size_t>(0, std::size(BEHAVIOURS) + 1)),
    [](const ::testing::TestParamInfo<std::tuple<size_t, size_t>>& p) {
        const size_t b = std::get<1>(p.param);
        return std::string(ROUTES[std::get<0>(p.param)].name) + "_" + (b < std::size(BEHAVIOURS) ? BEHAVIOURS[b].name : "clean");
    });

class sweep_count : public ::testing::Environment {
  public:
    void TearDown() override {
        if (runs_made != 0)
            std::printf("fault sweep: %zu runs with one failing command or misbehaving drive, %zu broke an invariant (%zu breaks), "
                        "%zu made again with the answers running out\n",
                        runs_made, runs_broken, breaks_seen, runs_given_up);
    }
};
const ::testing::Environment* const count_environment = ::testing::AddGlobalTestEnvironment(new sweep_count);

}  // namespace
