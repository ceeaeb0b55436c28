// Reads scenario files into the simulated host.
#include "tools/sim/scenario.h"

#include <cctype>
#include <cstdint>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include "image/sha256.h"
#include "tools/make-image/image_builder.h"

namespace sim {
namespace {

using nlohmann::json;

constexpr uint32_t MAX_IMAGE_SIZE = 16u * 1024 * 1024;
#if defined(_WIN32)
constexpr char FOLDER_SEPARATORS[] = "/\\";
#else
constexpr char FOLDER_SEPARATORS[] = "/";
#endif

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error("scenario: " + what); }

// A whole number that fits T, or a failure: JSON numbers are doubles or 64-bit
// integers, and a value out of range must never wrap into a plausible one.
template <typename T>
T whole_number(const json& value, const char* key) {
    bool fits = false;
    if (value.is_number_unsigned()) {
        fits = value.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<T>::max());
    } else if (value.is_number_integer()) {
        const int64_t v = value.get<int64_t>();
        fits = std::numeric_limits<T>::is_signed ? v >= static_cast<int64_t>(std::numeric_limits<T>::min()) &&
                                                       v <= static_cast<int64_t>(std::numeric_limits<T>::max())
                                                 : v >= 0 && static_cast<uint64_t>(v) <=
                                                                 static_cast<uint64_t>(std::numeric_limits<T>::max());
    }
    if (!fits) fail(std::string("\"") + key + "\" must be a whole number that fits");
    return value.get<T>();
}

template <typename T>
void take(const json& from, const char* key, T& into) {
    auto it = from.find(key);
    if (it == from.end() || it->is_null()) return;
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) {
        into = whole_number<T>(*it, key);
        return;
    }
    try {
        into = it->get<T>();
    } catch (const json::exception&) {
        fail(std::string("\"") + key + "\" has the wrong type");
    }
}

void take_char(const json& from, const char* key, char& into) {
    std::string text;
    take(from, key, text);
    if (text.size() > 1) fail(std::string("\"") + key + "\" must be one character");
    if (!text.empty()) into = text[0];
}

int answer_value(const json& answer) {
    if (answer.is_number_integer()) return answer.get<int>();
    if (!answer.is_string()) fail("an answer must be \"yes\", \"no\", \"ok\", \"none\" or a number");
    std::string a = answer.get<std::string>();
    if (a == "yes") return IDYES;
    if (a == "no") return IDNO;
    if (a == "ok") return IDOK;
    if (a == "none") return 0;
    fail("unknown answer \"" + a + "\"");
}

// "3B 07 F0" as bytes.
std::vector<uint8_t> hex_bytes_of(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    for (std::string word; in >> word;) {
        if (word.size() != 2 || !std::isxdigit(static_cast<unsigned char>(word[0])) ||
            !std::isxdigit(static_cast<unsigned char>(word[1])))
            fail("\"" + text + "\" is not hexadecimal bytes");
        bytes.push_back(static_cast<uint8_t>(std::stoul(word, nullptr, 16)));
    }
    return bytes;
}

emu::fault_kind fault_kind_of(const std::string& name) {
    if (name == "check-condition") return emu::fault_kind::check_condition;
    if (name == "transport") return emu::fault_kind::transport;
    if (name == "timeout") return emu::fault_kind::timeout;
    if (name == "busy") return emu::fault_kind::busy;
    if (name == "refused") return emu::fault_kind::refused;
    fail("unknown fault kind \"" + name + "\"");
}

emu::drive_config drive_config_of(const json& d) {
    emu::drive_config c;
    int peripheral = c.peripheral;
    take(d, "peripheral", peripheral);
    c.peripheral = static_cast<uint8_t>(peripheral);
    take(d, "vendor", c.vendor);
    take(d, "product", c.product);
    take(d, "revision", c.revision);
    take_char(d, "revision_suffix", c.revision_suffix);
    take(d, "date", c.date);
    take(d, "inquiry_length", c.inquiry_length);
    take(d, "inquiry_length_after_restart", c.inquiry_length_after_restart);
    take(d, "revision_after_restart", c.revision_after_restart);
    take(d, "revision_suffix_after_restart", c.revision_suffix_after_restart);
    take(d, "date_after_restart", c.date_after_restart);
    take(d, "vendor_after_restart", c.vendor_after_restart);
    take(d, "product_after_restart", c.product_after_restart);
    take(d, "hardware_revision", c.hardware_revision);
    take(d, "signature", c.signature);
    take(d, "update_vendor", c.update_vendor);
    take(d, "identity_readable", c.identity_readable);
    // A recorded drive: its answers as bytes ("12 00 ..."), served as they came.
    std::string recorded;
    take(d, "inquiry_bytes", recorded);
    c.recorded_inquiry = hex_bytes_of(recorded);
    recorded.clear();
    take(d, "identity_bytes", recorded);
    c.recorded_identity = hex_bytes_of(recorded);
    take(d, "model_string", c.model_string);
    take(d, "access_code", c.access_code);
    take(d, "starts_in_update_mode", c.starts_in_update_mode);
    take(d, "image_capacity", c.image_capacity);
    take(d, "expected_image_size", c.expected_image_size);
    take(d, "block_ms", c.block_ms);
    take(d, "leave_command_ms", c.leave_command_ms);
    take(d, "reflash_ms", c.reflash_ms);
    take(d, "refuse_block", c.refuse_block);
    take(d, "refused_block_restarts", c.refused_block_restarts);
    take(d, "refuse_entry", c.refuse_entry);
    take(d, "refuse_leave", c.refuse_leave);
    take(d, "refuse_leave_after_reflash", c.refuse_leave_after_reflash);
    take(d, "refused_leave_restarts", c.refused_leave_restarts);
    int key = c.refuse_leave_key;
    take(d, "refuse_leave_key", key);
    c.refuse_leave_key = static_cast<uint8_t>(key);
    take(d, "stay_in_update_mode", c.stay_in_update_mode);
    take(d, "inquiry_failures_after_restart", c.inquiry_failures_after_restart);
    take(d, "unit_attention_count", c.unit_attention_count);
    take(d, "ready_test_unit_attentions", c.ready_test_unit_attentions);
    take(d, "disc_present", c.disc_present);
    take(d, "becoming_ready", c.becoming_ready);
    if (auto it = d.find("faults"); it != d.end()) {
        for (const json& f : *it) {
            emu::injected_fault fault;
            take(f, "command", fault.command_number);
            std::string prefix;
            take(f, "cdb", prefix);
            fault.cdb_prefix = hex_bytes_of(prefix);
            std::string kind = "check-condition";
            take(f, "kind", kind);
            fault.kind = fault_kind_of(kind);
            int k = fault.key, asc = fault.asc, ascq = fault.ascq;
            take(f, "key", k);
            take(f, "asc", asc);
            take(f, "ascq", ascq);
            fault.key = static_cast<uint8_t>(k);
            fault.asc = static_cast<uint8_t>(asc);
            fault.ascq = static_cast<uint8_t>(ascq);
            c.injected.push_back(fault);
        }
    }
    return c;
}

void load_host(machine& h, const json& j) {
    std::string family;
    take(j, "family", family);
    if (family == "9x" || family == "98") {
        h.cfg.platform_id = VER_PLATFORM_WIN32_WINDOWS;
        h.cfg.major_version = 4;
        h.cfg.minor_version = 10;
    } else if (family == "95") {
        h.cfg.platform_id = VER_PLATFORM_WIN32_WINDOWS;
        h.cfg.major_version = 4;
        h.cfg.minor_version = 0;
    } else if (family == "me") {
        h.cfg.platform_id = VER_PLATFORM_WIN32_WINDOWS;
        h.cfg.major_version = 4;
        h.cfg.minor_version = 90;
    } else if (!family.empty() && family != "nt") {
        fail("unknown family \"" + family + "\" (nt, 95, 98, 9x, me)");
    }
    take(j, "platform_id", h.cfg.platform_id);
    take(j, "major_version", h.cfg.major_version);
    take(j, "minor_version", h.cfg.minor_version);
    take(j, "code_page", h.cfg.oem_code_page);
    take(j, "timer_period", h.cfg.finest_timer_period);
    take(j, "clock_start_ms", h.cfg.clock_start_ms);
    take(j, "registry_keys", h.cfg.registry_keys);
    take(j, "fail_allocation", h.cfg.fail_allocation);
    take(j, "file_size_fails", h.cfg.file_size_fails);
    take(j, "file_read_shortfall", h.cfg.file_read_shortfall);
    take(j, "interrupt_in_update", h.cfg.interrupt_in_update);
    take(j, "another_run", h.cfg.another_run);
    take(j, "console_redirected", h.cfg.console_redirected);
}

void load_aspi(machine& h, const json& j) {
    h.cfg.aspi_present = true;
    take(j, "present", h.cfg.aspi_present);
    take(j, "status", h.cfg.aspi_status);
    take(j, "adapter_count", h.cfg.aspi_adapter_count);
    take(j, "manager_timeout_ms", h.cfg.aspi_manager_timeout_ms);
    take(j, "abort_ms", h.cfg.aspi_abort_ms);
    if (auto it = j.find("adapters"); it != j.end()) {
        for (const json& a : *it) {
            adapter_config adapter;
            if (a.is_string()) {
                adapter.identifier = a.get<std::string>();
            } else {
                take(a, "identifier", adapter.identifier);
                take(a, "inquiry_fails", adapter.inquiry_fails);
                take(a, "rejects_requests", adapter.rejects_requests);
            }
            h.cfg.adapters.push_back(adapter);
        }
    }
}

void load_image(const json& j, const std::string& image_directory) {
    image_fields fields;
    std::string path = release_image_file_name();
    take(j, "path", path);
    take(j, "vendor_product", fields.vendor_product);
    take(j, "version", fields.version);
    take(j, "hardware_revision", fields.hardware_revision);
    take(j, "image_vendor", fields.image_vendor);
    take(j, "second_vendor", fields.second_vendor);
    take_char(j, "part_kind", fields.part_kind);
    take(j, "date", fields.date);
    take(j, "size", fields.size);
    take(j, "seed", fields.seed);
    if (path.find('/') != std::string::npos || path.find("..") != std::string::npos)
        fail("an image path is a bare file name");
    // Larger than any image buffer, so every refusal can still be shown.
    if (fields.size > MAX_IMAGE_SIZE) fail("an image is at most 16 MiB");
    if (!write_image_file(image_directory + "/" + path, fields)) fail("cannot write image " + path);
    // A release folder holds the image's checksum file beside it, as
    // sha256sum writes it; a scenario may leave it out.
    bool checksum_file = true;
    take(j, "checksum_file", checksum_file);
    if (!checksum_file) return;
    const std::vector<uint8_t> bytes = build_image(fields);
    uint8_t digest[SHA256_SIZE];
    sha256(bytes.data(), bytes.size(), digest);
    std::ofstream out(image_directory + "/" + path + ".sha256", std::ios::binary);
    out << sha256_text(digest) << "  " << path << "\n";
    if (!out.flush()) fail("cannot write the checksum file of " + path);
}

}  // namespace

scenario_file read_scenario_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    const size_t slash = path.find_last_of(FOLDER_SEPARATORS);
    return {text.str(), slash == std::string::npos ? std::string(".") : path.substr(0, slash)};
}

bool scenario_builds_images(const std::string& json_text) {
    json j = json::parse(json_text, nullptr, false);
    return !j.is_discarded() && j.is_object() && j.contains("images") && !j["images"].empty();
}

void load_scenario(machine& h, const std::string& json_text, const std::string& base_directory,
                   const std::string& image_directory) {
    json j = json::parse(json_text, nullptr, false);
    if (j.is_discarded()) fail("not valid JSON");
    if (!j.is_object()) fail("the top level must be an object");
    try {
        h.cfg.directory = base_directory;
        if (auto it = j.find("host"); it != j.end()) load_host(h, *it);
        if (auto it = j.find("aspi"); it != j.end()) load_aspi(h, *it);
        std::string directory;
        take(j, "directory", directory);
        if (!directory.empty())
            h.cfg.directory = directory[0] == '/' ? directory : base_directory + "/" + directory;
        if (auto it = j.find("images"); it != j.end()) {
            for (const json& image : *it) load_image(image, image_directory);
            h.cfg.directory = image_directory;
        }
        if (auto it = j.find("answers"); it != j.end())
            for (const json& a : *it) h.cfg.answers.push_back(answer_value(a));
        if (auto it = j.find("drives"); it != j.end()) {
            for (const json& d : *it) {
                emu::drive_config config = drive_config_of(d);
                std::string letter;
                take(d, "letter", letter);
                int adapter = -1, target = -1;
                take(d, "adapter", adapter);
                take(d, "target", target);
                if (letter.size() > 1 || (letter.empty() && (adapter < 0 || target < 0)))
                    fail("a drive needs a letter or an adapter and a target");
                drive_slot& slot = letter.empty() ? h.add_drive_at_address(adapter, target, config)
                                                  : h.add_drive_at_letter(letter[0], config);
                take(d, "open_fails", slot.open_fails);
                take(d, "open_error", slot.open_error);
                take(d, "held_by_another", slot.held_by_another);
                take(d, "capabilities_error", slot.capabilities_error);
                take(d, "address_error", slot.address_error);
                bool ieee1394 = false;
                take(d, "ieee1394", ieee1394);
                if (ieee1394) slot.address_error = ERROR_NOT_SUPPORTED;
                take(d, "vanishes_after_command", slot.vanishes_after_command);
                take(d, "replaced_after_command", slot.replaced_after_command);
                if (auto replacement = d.find("replacement"); replacement != d.end())
                    slot.replacement = std::make_shared<emu::virtual_drive>(drive_config_of(*replacement));
                else if (slot.replaced_after_command != 0)
                    fail("a drive replaced after a command needs its \"replacement\"");
                take(d, "name", slot.name);
                take(d, "serial", slot.serial);
                take(d, "device_name", slot.device_name);
            }
        }
    } catch (const json::exception& e) {
        fail(e.what());
    }
}

}  // namespace sim
