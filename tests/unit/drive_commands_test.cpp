// The drive command set on the simulated host: every command use reaches the
// emulated drive byte for byte through pass-through and through ASPI, with the
// time-out each use calls for.
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "drive_expectations.h"
#include "test_support.h"

namespace {

using byte_vector = std::vector<uint8_t>;

class drive_commands_test : public sim_test {
  protected:
    void SetUp() override {
        sim_test::SetUp();
        command_timeout_ms = 7000;
    }
    void TearDown() override {
        EXPECT_EQ(host.open_handles(), 0);
        EXPECT_EQ(host.open_events(), 0);
        if (request_block_area.memory) {
            host::GlobalUnlock(request_block_area.memory);
            host::GlobalFree(request_block_area.memory);
        }
        sim_test::TearDown();
    }

    // Targets 0 and 1: D: and E: through pass-through, or (0, 0) and (0, 1) through ASPI.
    void two_drives(bool aspi, const emu::drive_config& second = {}) {
        if (aspi) {
            host.add_drive_at_address(0, 0);
            host.add_drive_at_address(0, 1, second);
            host.cfg.aspi_present = true;
            host.cfg.adapters.resize(2);
            win9x_family = 1;
            send_aspi_command = reinterpret_cast<SendASPI32Command_fn>(
                host::GetProcAddress(host::LoadLibraryA("WNASPI32.DLL"), reinterpret_cast<LPCSTR>(2)));
            request_block_area.memory = host::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 0x1000);
            request_block_area.address = static_cast<uint8_t*>(host::GlobalLock(request_block_area.memory));
            target_table[0] = {0, 0, 0};
            target_table[1] = {0, 1, 0};
        } else {
            host.add_drive_at_letter('D');
            host.add_drive_at_letter('E', second);
            target_table[0].drive_letter = 'D';
            target_table[1].drive_letter = 'E';
        }
        target_count = 2;
    }

    void check_every_use(bool aspi) {
        two_drives(aspi);
        current_target = 1;
        byte_vector page(96), identity(48), block(256), chunk(32768);
        struct use {
            const char* name;
            std::function<command_outcome()> send;
            byte_vector cdb;
            int direction;
            uint32_t length;
            uint32_t timeout_ms;  // as the drive sees it through pass-through
            int32_t default_after;
        } uses[] = {
            {"wait for ready", [] { return test_unit_ready(target_of(1)); }, {0x00, 0, 0, 0, 0, 0}, 0, 0, 7000, 7000},
            {"inquiry", [&] { return inquiry(target_of(1), page.data()); }, {0x12, 0, 0, 0, 0x60, 0}, 1, 96, 5000, 7000},
            {"load/eject", [] { return start_stop_unit(target_of(1), 0, 0, 1, 0); }, {0x1B, 0, 0, 0, 0x02, 0}, 0, 0, 7000, 7000},
            {"start stop fields", [] { return start_stop_unit(target_of(1), 1, 3, 1, 1); }, {0x1B, 1, 0, 0, 0x33, 0}, 0, 0, 7000,
             7000},
            {"start stop truncated", [] { return start_stop_unit(target_of(1), 0x1FF, 0x10, 0, 1); }, {0x1B, 0xFF, 0, 0, 0x01, 0},
             0, 0, 7000, 7000},
            {"drive information", [&] { return read_buffer(target_of(1), 2, 0xF1, 0, 48, identity.data()); },
             {0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 0x30, 0}, 1, 48, 7000, 7000},
            {"read at 0x123456", [&] { return read_buffer(target_of(1), 2, 0xF1, 0x123456, 48, identity.data()); },
             {0x3C, 0x02, 0xF1, 0x12, 0x34, 0x56, 0, 0, 0x30, 0}, 1, 48, 7000, 7000},
            {"enter update mode", [&] { return write_buffer(target_of(1), 4, 0xFF, 0, 256, block.data()); },
             {0x3B, 0x04, 0xFF, 0, 0, 0, 0, 0x01, 0, 0}, 2, 256, 7000, 7000},
            {"leave update mode", [&] { return write_buffer(target_of(1), 5, 0xFF, 0, 256, block.data()); },
             {0x3B, 0x05, 0xFF, 0, 0, 0, 0, 0x01, 0, 0}, 2, 256, 7000, 7000},
            {"write at 0x123456", [&] { return write_buffer(target_of(1), 7, 0xF0, 0x123456, 48, identity.data()); },
             {0x3B, 0x07, 0xF0, 0x12, 0x34, 0x56, 0, 0, 0x30, 0}, 2, 48, 7000, 7000},
            {"write nothing", [&] { return write_buffer(target_of(1), 7, 0xF0, 0, 0, nullptr); },
             {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0, 0, 0}, 0, 0, 7000, 7000},
            {"image chunk", [&] { return write_image_chunk(target_of(current_target), 0x018000, 32768, chunk.data()); },
             {0x3B, 0x07, 0xF0, 0x01, 0x80, 0x00, 0, 0x80, 0x00, 0}, 2, 32768, 20000, 20000},
            {"stop the drive", [] { return stop_unit(target_of(current_target)); }, {0x1B, 0, 0, 0, 0, 0}, 0, 0, 60000, 0},
        };
        for (const use& u : uses) {
            command_timeout_ms = 7000;
            u.send();
            const auto& log = host.drive(1).log();
            ASSERT_FALSE(log.empty()) << u.name;
            EXPECT_EQ(log.back().cdb, u.cdb) << u.name;
            EXPECT_EQ(log.back().direction, u.direction) << u.name;
            EXPECT_EQ(log.back().data_length, u.length) << u.name;
            // The direction as the request carried it, also where no data moves.
            const UCHAR data_in[] = {2, 1, 0};
            const BYTE flags[] = {0x00, 0x08, 0x10};
            if (aspi) {
                EXPECT_EQ(request_block_area.address[3] & 0x18, flags[u.direction]) << u.name;
            } else {
                EXPECT_EQ(pass_through_block.sptd.DataIn, data_in[u.direction]) << u.name;
            }
            if (!aspi) {
                EXPECT_EQ(log.back().timeout_ms, u.timeout_ms) << u.name;
            }
            EXPECT_EQ(command_timeout_ms, u.default_after) << u.name;
        }
        EXPECT_EQ(host.drive(1).log().size(), std::size(uses));
        EXPECT_TRUE(host.drive(0).log().empty());
        EXPECT_EQ(std::string(reinterpret_cast<char*>(page.data()) + 16, 16), "DVD-RW  KWR-322 ");
    }
};

TEST_F(drive_commands_test, every_use_through_pass_through) { check_every_use(false); }

TEST_F(drive_commands_test, every_use_through_aspi) { check_every_use(true); }

// An offset past 24 bits or a length past 16 would be cut to other bytes of the
// drive's buffer: such a command is refused and nothing reaches the drive.
TEST_F(drive_commands_test, buffer_fields_that_do_not_fit_are_refused_unsent) {
    two_drives(false);
    byte_vector big(0x10000);
    EXPECT_EQ(read_buffer(target_of(1), 2, 0xF1, 0x1000000, 48, big.data()).code, -1);
    EXPECT_EQ(write_buffer(target_of(1), 7, 0xF0, 0x1000000, 48, big.data()).code, -1);
    EXPECT_EQ(write_buffer(target_of(1), 7, 0xF0, 0, 0x10000, big.data()).code, -1);
    EXPECT_TRUE(host.drive(1).log().empty());
    write_buffer(target_of(1), 7, 0xF0, 0xFFFFFF, 0xFFFF, big.data());
    ASSERT_EQ(host.drive(1).log().size(), 1u);
    EXPECT_EQ(expect::item(host.drive(1).log(), 0).cdb, (byte_vector{0x3B, 0x07, 0xF0, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0xFF, 0}));
}

TEST_F(drive_commands_test, inquiry_time_out_follows_the_ieee1394_adapter_not_the_default) {
    two_drives(false);
    byte_vector page(96);
    const std::pair<int, uint32_t> cases[] = {{-1, 5000}, {0, 1000}, {3, 1000}};
    for (const auto& [adapter, timeout] : cases) {
        ieee1394_adapter = adapter;
        EXPECT_EQ(inquiry(target_of(0), page.data()).code, 0);
        EXPECT_EQ(expect::last(host.drive(0).log()).timeout_ms, timeout) << adapter;
    }
}

TEST_F(drive_commands_test, inquiry_through_aspi_waits_its_own_time_out) {
    emu::drive_config never_answers;
    never_answers.injected = {{1, emu::fault_kind::timeout}, {2, emu::fault_kind::timeout}};
    two_drives(true, never_answers);
    byte_vector page(96);
    const std::pair<int, uint64_t> cases[] = {{-1, 5000}, {0, 1000}};
    for (const auto& [adapter, waited] : cases) {
        ieee1394_adapter = adapter;
        const uint64_t start = host.elapsed_ms;
        EXPECT_EQ(inquiry(target_of(1), page.data()).code, -2);
        EXPECT_EQ(host.elapsed_ms - start, waited) << adapter;
    }
}

// The leave command keeps the time-out it was given on every route: 0 would
// become the pass-through's 60 s, shorter than a re-flash.
TEST_F(drive_commands_test, reflash_on_an_ieee1394_pass_through_drive_keeps_its_time_out) {
    emu::drive_config no_address;
    two_drives(false, no_address);
    host.drives[1].address_error = ERROR_NOT_SUPPORTED;
    byte_vector block(256);
    struct {
        int current, target, mode;
        uint32_t timeout_ms;
    } cases[] = {{1, 1, 5, 7000}, {1, 1, 4, 7000}, {1, 1, 7, 7000}, {0, 0, 5, 7000}};
    for (const auto& c : cases) {
        current_target = c.current;
        test_unit_ready(target_of(c.target));  // the open tells whether the drive has a SCSI address
        EXPECT_EQ(ieee1394_adapter, c.target == 1 ? 1 : -1);
        write_buffer(target_of(c.target), c.mode, 0xFF, 0, 256, block.data());
        EXPECT_EQ(expect::last(host.drive(static_cast<size_t>(c.target)).log()).timeout_ms, c.timeout_ms) << c.mode;
    }
}

TEST_F(drive_commands_test, reflash_through_aspi_keeps_the_default_time_out) {
    emu::drive_config never_answers;
    never_answers.injected = {{1, emu::fault_kind::timeout}};
    two_drives(true, never_answers);
    // Adapter 0 is the IEEE 1394 one and the number equals current_target, as a
    // pass-through open would leave it.
    ieee1394_adapter = 0;
    current_target = 0;
    byte_vector block(256);
    // Polled on the IEEE 1394 adapter: 7000 ms give 14 looks and fail at the 15th sleep.
    EXPECT_EQ(write_buffer(target_of(1), 5, 0xFF, 0, 256, block.data()).code, -1);
    EXPECT_EQ(host.sleeps, std::vector<uint32_t>(15, 500));
}

}  // namespace
