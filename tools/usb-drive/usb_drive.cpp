// usb-drive: one emulated drive of a scenario as a USB mass-storage device
// (bulk-only transport, SCSI command set: class 08, subclass 06, protocol
// 50), a function of a Linux gadget written through FunctionFS, so that the
// kernel's usb-storage, sr and sg stand between a program and the drive.
//
//   usb-drive SCENARIO INDEX FFS_FOLDER REPORT_FOLDER
//
// INDEX is the drive's place in the scenario's "drives". The function's
// descriptors go to FFS_FOLDER/ep0, after which the gadget may be bound to a
// UDC; then each command block wrapper on the bulk-out endpoint is answered
// by the served drive: its data, then the status wrapper, once its time has
// come. The REQUEST SENSE usb-storage sends after a CHECK CONDITION is
// answered with that command's sense. A command the drive never answers is
// held until the host resets the device (its own time-out), and then dropped.
// REPORT_FOLDER receives the drive's report, as tcmu-drive's.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/served-drive/served_drive.h"

namespace {

constexpr uint8_t OP_REQUEST_SENSE = 0x03;
constexpr uint32_t COMMAND_SIGNATURE = 0x43425355;  // "USBC"
constexpr uint32_t STATUS_SIGNATURE = 0x53425355;   // "USBS"
constexpr size_t COMMAND_WRAPPER_SIZE = 31;
constexpr uint8_t REQUEST_GET_MAX_LUN = 0xFE;
constexpr uint8_t REQUEST_MASS_STORAGE_RESET = 0xFF;
constexpr uint32_t LONGEST_TRANSFER = 1024 * 1024;

// The function as FunctionFS takes it: one interface with a bulk-in
// endpoint (ep1) and a bulk-out endpoint (ep2), at full and at high speed.
struct __attribute__((packed)) interface_descriptors {
    usb_interface_descriptor interface;
    usb_endpoint_descriptor_no_audio in, out;
};

struct __attribute__((packed)) function_descriptors {
    usb_functionfs_descs_head_v2 header;
    uint32_t full_speed_count, high_speed_count;
    interface_descriptors full_speed, high_speed;
};

interface_descriptors interface_at(uint16_t packet_size) {
    interface_descriptors d{};
    d.interface = {USB_DT_INTERFACE_SIZE, USB_DT_INTERFACE, 0, 0, 2, USB_CLASS_MASS_STORAGE, 0x06, 0x50, 1};
    d.in = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 1 | USB_DIR_IN, USB_ENDPOINT_XFER_BULK, packet_size, 0};
    d.out = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, 2 | USB_DIR_OUT, USB_ENDPOINT_XFER_BULK, packet_size, 0};
    return d;
}

constexpr char INTERFACE_NAME[] = "ODD drive";
struct __attribute__((packed)) function_strings {
    usb_functionfs_strings_head header;
    uint16_t language;
    char name[sizeof INTERFACE_NAME];
};

uint32_t le32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Whole reads and writes on an endpoint: false when the host went away
// (the device reset or disabled).
bool read_all(int fd, uint8_t* data, size_t length) {
    for (size_t done = 0; done < length;) {
        const ssize_t n = ::read(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool write_all(int fd, const uint8_t* data, size_t length) {
    for (size_t done = 0; done < length;) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// What ep0 tells: whether the host has configured the function, and how many
// times it has reset it (a reset drops the command being held).
struct bus_state {
    std::mutex lock;
    std::condition_variable changed;
    bool enabled = false;
    unsigned resets = 0;
};

void answer_setup(int ep0, const usb_ctrlrequest& setup, bus_state& bus) {
    const bool in = (setup.bRequestType & USB_DIR_IN) != 0;
    if ((setup.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS && setup.bRequest == REQUEST_GET_MAX_LUN && in) {
        const uint8_t last_lun = 0;
        (void)::write(ep0, &last_lun, 1);
        return;
    }
    if ((setup.bRequestType & USB_TYPE_MASK) == USB_TYPE_CLASS && setup.bRequest == REQUEST_MASS_STORAGE_RESET && !in) {
        (void)::read(ep0, nullptr, 0);  // the status stage: the reset is taken
        std::lock_guard<std::mutex> guard(bus.lock);
        ++bus.resets;
        bus.changed.notify_all();
        return;
    }
    // Anything else is stalled: I/O against the request's direction.
    if (in) (void)::read(ep0, nullptr, 0);
    else (void)::write(ep0, nullptr, 0);
}

void serve_ep0(int ep0, bus_state& bus) {
    usb_functionfs_event events[4];
    for (;;) {
        const ssize_t n = ::read(ep0, events, sizeof events);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (size_t i = 0; i < static_cast<size_t>(n) / sizeof events[0]; ++i) {
            const usb_functionfs_event& e = events[i];
            if (e.type == FUNCTIONFS_SETUP) {
                answer_setup(ep0, e.u.setup, bus);
                continue;
            }
            std::lock_guard<std::mutex> guard(bus.lock);
            if (e.type == FUNCTIONFS_ENABLE) bus.enabled = true;
            if (e.type == FUNCTIONFS_DISABLE || e.type == FUNCTIONFS_UNBIND || e.type == FUNCTIONFS_SUSPEND) {
                bus.enabled = false;
                ++bus.resets;
            }
            bus.changed.notify_all();
        }
    }
}

int open_endpoint(const std::string& folder, const char* name) {
    const std::string path = folder + "/" + name;
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) std::fprintf(stderr, "usb-drive: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return fd;
}

// Answers command block wrappers until the endpoints go for good.
void serve_commands(int in, int out, served::drive& drive, bus_state& bus) {
    for (;;) {
        unsigned resets;
        {
            std::unique_lock<std::mutex> guard(bus.lock);
            bus.changed.wait(guard, [&] { return bus.enabled; });
            resets = bus.resets;
        }
        uint8_t wrapper[COMMAND_WRAPPER_SIZE];
        if (!read_all(out, wrapper, sizeof wrapper)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (le32(wrapper) != COMMAND_SIGNATURE) continue;
        const uint32_t tag = le32(wrapper + 4), length = le32(wrapper + 8);
        // No kernel asks more than its queue's limit (usb-storage: 120 KiB);
        // a wrapper asking more is not served.
        if (length > LONGEST_TRANSFER) continue;
        const bool data_in = (wrapper[12] & 0x80) != 0;
        const size_t cdb_length = std::min<size_t>(wrapper[14] & 0x1F, 16);
        const uint8_t* cdb = wrapper + 15;
        std::vector<uint8_t> data(length, 0);
        if (!data_in && length != 0 && !read_all(out, data.data(), data.size())) continue;
        const served::answer a = cdb[0] == OP_REQUEST_SENSE ? drive.sense_of_last(cdb, cdb_length, length)
                                                            : drive.run(cdb, cdb_length, data, !data_in);
        // Its time in the drive; a command the drive never answers waits for the host's reset.
        const bool never = a.result.timed_out || a.result.transport_failure;
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(a.result.duration_ms);
        {
            std::unique_lock<std::mutex> guard(bus.lock);
            const auto reset = [&] { return bus.resets != resets; };
            if (never) bus.changed.wait(guard, reset);
            else bus.changed.wait_until(guard, due, reset);
            if (reset()) continue;
        }
        // Data in fills what the host asked for; the residue tells how much was the drive's.
        const size_t given = std::min<size_t>(a.data_in.size(), length);
        if (data_in && length != 0) {
            std::vector<uint8_t> padded(length, 0);
            std::memcpy(padded.data(), a.data_in.data(), given);
            if (!write_all(in, padded.data(), padded.size())) continue;
        }
        uint8_t status[13] = {};
        put_le32(status, STATUS_SIGNATURE);
        put_le32(status + 4, tag);
        put_le32(status + 8, data_in ? static_cast<uint32_t>(length - given) : 0);
        status[12] = a.result.status == emu::STATUS_GOOD ? 0 : 1;
        write_all(in, status, sizeof status);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: usb-drive SCENARIO INDEX FFS_FOLDER REPORT_FOLDER\n");
        return 2;
    }
    const std::unique_ptr<served::drive> drive = served::load_drive("usb-drive", argv[1], argv[2], argv[4]);
    const std::string folder = argv[3];
    const int ep0 = open_endpoint(folder, "ep0");
    if (ep0 < 0) return 1;
    function_descriptors descriptors{};
    descriptors.header = {FUNCTIONFS_DESCRIPTORS_MAGIC_V2, sizeof descriptors,
                          FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC};
    descriptors.full_speed_count = descriptors.high_speed_count = 3;
    descriptors.full_speed = interface_at(64);
    descriptors.high_speed = interface_at(512);
    function_strings strings{};
    strings.header = {FUNCTIONFS_STRINGS_MAGIC, sizeof strings, 1, 1};
    strings.language = 0x0409;
    std::memcpy(strings.name, INTERFACE_NAME, sizeof INTERFACE_NAME);
    if (!write_all(ep0, reinterpret_cast<const uint8_t*>(&descriptors), sizeof descriptors) ||
        !write_all(ep0, reinterpret_cast<const uint8_t*>(&strings), sizeof strings)) {
        std::fprintf(stderr, "usb-drive: FunctionFS refused the descriptors: %s\n", std::strerror(errno));
        return 1;
    }
    const int in = open_endpoint(folder, "ep1"), out = open_endpoint(folder, "ep2");
    if (in < 0 || out < 0) return 1;
    bus_state bus;
    std::thread control([&] { serve_ep0(ep0, bus); });
    control.detach();
    serve_commands(in, out, *drive, bus);
    return 0;
}
