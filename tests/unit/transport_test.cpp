// The command transport on the simulated host: the pass-through block and the
// ASPI request block as the host and the manager receive them, results and
// sense, time-outs, completion by event and by polling, refused and abandoned
// requests, and that no handle or event outlives a command.
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "drive_expectations.h"
#include "test_support.h"

namespace {

using byte_vector = std::vector<uint8_t>;

constexpr DWORD NO_FORCED_WAIT = 0xFFFF;
const byte_vector TUR = {0x00, 0, 0, 0, 0, 0};
const byte_vector INQUIRY = {0x12, 0, 0, 0, 0x60, 0};
const byte_vector READ_IDENTITY = {0x3C, 0x02, 0xF1, 0, 0, 0, 0, 0, 0x30, 0};

// What the platform saw, through a copy of the simulated host's table.
struct seen_calls {
    std::vector<pass_through_direct_block> blocks;
    std::vector<std::pair<DWORD, DWORD>> block_sizes;
    std::vector<DWORD> wait_limits;
    std::vector<SRB_ExecSCSICmd> requests;
    std::vector<void*> aborted;
    int opens = 0;
    bool events_fail = false;
    DWORD forced_wait = NO_FORCED_WAIT;
    bool manager_runs_first = false;  // the request ends before the forced wait result
    bool inflate_sense = false;
    bool short_transfer = false;  // the port reports half the data moved, with GOOD status
    bool fake_address = false;
    SCSI_ADDRESS address{};
};
seen_calls seen;
host_calls sim_calls;
host_calls patched;
SendASPI32Command_fn manager = nullptr;

HANDLE counting_open(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                     DWORD flags, HANDLE template_file) {
    ++seen.opens;
    return sim_calls.CreateFileA(name, access, share, security, disposition, flags, template_file);
}

BOOL recording_ioctl(HANDLE device, DWORD code, LPVOID in, DWORD in_size, LPVOID out, DWORD out_size,
                     LPDWORD returned, LPOVERLAPPED overlapped) {
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
        seen.blocks.push_back(*static_cast<pass_through_direct_block*>(in));
        seen.block_sizes.emplace_back(in_size, out_size);
    }
    BOOL ok = sim_calls.DeviceIoControl(device, code, in, in_size, out, out_size, returned, overlapped);
    if (ok && code == IOCTL_SCSI_GET_ADDRESS && seen.fake_address) std::memcpy(out, &seen.address, sizeof seen.address);
    if (ok && code == IOCTL_SCSI_PASS_THROUGH_DIRECT && seen.short_transfer)
        static_cast<pass_through_direct_block*>(out)->sptd.DataTransferLength /= 2;
    if (ok && code == IOCTL_SCSI_PASS_THROUGH_DIRECT && seen.inflate_sense) {
        auto* block = static_cast<pass_through_direct_block*>(out);
        block->sptd.SenseInfoLength = 32;
        for (int i = 0; i < 32; ++i) block->sense[i] = uint8_t(0xA0 + i);
    }
    return ok;
}

HANDLE maybe_event(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCSTR name) {
    return seen.events_fail ? nullptr : sim_calls.CreateEventA(security, manual, initial, name);
}

DWORD recording_wait(HANDLE event, DWORD ms) {
    seen.wait_limits.push_back(ms);
    if (seen.forced_wait == NO_FORCED_WAIT) return sim_calls.WaitForSingleObject(event, ms);
    if (seen.manager_runs_first) sim_calls.WaitForSingleObject(event, INFINITE);
    return seen.forced_wait;
}

DWORD __cdecl recording_send(void* block) {
    const BYTE command = static_cast<BYTE*>(block)[0];
    if (command == SC_EXEC_SCSI_CMD) seen.requests.push_back(*static_cast<SRB_ExecSCSICmd*>(block));
    if (command == SC_ABORT_SRB) seen.aborted.push_back(static_cast<SRB_Abort*>(block)->SRB_ToAbort);
    return manager(block);
}

byte_vector padded(const byte_vector& cdb) {
    byte_vector out(cdb);
    out.resize(16, 0);
    return out;
}

emu::drive_config never_answers(uint32_t command_number = 1) {
    emu::drive_config config;
    config.injected.push_back({command_number, emu::fault_kind::timeout});
    return config;
}

class transport_test : public sim_test {
  protected:
    void SetUp() override {
        sim_test::SetUp();
        seen = {};
        sim_calls = *installed_host;
        patched = sim_calls;
        patched.CreateFileA = counting_open;
        patched.DeviceIoControl = recording_ioctl;
        patched.CreateEventA = maybe_event;
        patched.WaitForSingleObject = recording_wait;
        install_host(&patched);
        drive_data_buffer = take_block(0x1000);
    }
    void TearDown() override {
        EXPECT_EQ(host.open_handles(), 0);
        EXPECT_EQ(host.open_events(), 0);
        EXPECT_FALSE(host.hung);
        give_back(drive_data_buffer);
        give_back(request_block_area);
        sim_test::TearDown();
    }

    // Memory not asked to be zeroed: the simulated host fills it with 0xCD.
    static working_buffer take_block(uint32_t size) {
        HGLOBAL memory = host::GlobalAlloc(GMEM_MOVEABLE, size);
        return {memory, static_cast<uint8_t*>(host::GlobalLock(memory)), size};
    }
    static void give_back(working_buffer& buffer) {
        if (buffer.memory) {
            host::GlobalUnlock(buffer.memory);
            host::GlobalFree(buffer.memory);
        }
        buffer = {};
    }

    void letters(const std::string& list) {
        for (size_t i = 0; i < list.size(); ++i) target_table[i].drive_letter = list[i];
        target_count = static_cast<int>(list.size());
    }
    void aspi(const std::vector<std::pair<int, int>>& addresses, int adapters = 2) {
        host.cfg.aspi_present = true;
        host.cfg.adapters.resize(static_cast<size_t>(adapters));
        win9x_family = 1;
        manager = reinterpret_cast<SendASPI32Command_fn>(
            host::GetProcAddress(host::LoadLibraryA("WNASPI32.DLL"), reinterpret_cast<LPCSTR>(2)));
        ASSERT_NE(manager, nullptr);
        send_aspi_command = recording_send;
        request_block_area = take_block(0x1000);
        for (size_t i = 0; i < addresses.size(); ++i)
            target_table[i] = {addresses[i].first, addresses[i].second, 0};
        target_count = static_cast<int>(addresses.size());
    }
    SRB_ExecSCSICmd* block() { return reinterpret_cast<SRB_ExecSCSICmd*>(request_block_area.address + request_block_offset); }

    static int send(int target, const byte_vector& cdb, int direction = DIRECTION_NONE, int32_t timeout_ms = 1000,
                    void* data = nullptr, int32_t length = 0) {
        command_request request{};
        request.to = target_of(target);
        request.direction = direction;
        request.cdb_length = static_cast<int32_t>(cdb.size());
        request.timeout = timeout_of(timeout_ms);
        request.data_length = length;
        request.data = data;
        std::copy(cdb.begin(), cdb.end(), request.cdb);
        return execute_command(&request).code;
    }
    static byte_vector sense_bytes() { return byte_vector(last_sense, last_sense + SENSE_LENGTH); }
};

// --- pass-through -----------------------------------------------------------

TEST_F(transport_test, pass_through_block_as_the_host_receives_it) {
    host.add_drive_at_letter('E');
    letters("E");
    seen.fake_address = true;
    seen.address = {8, 0, 1, 2, 3};
    byte_vector data(96, 0xEE);
    struct {
        byte_vector cdb;
        int direction;
        UCHAR data_in;
    } cases[] = {
        {TUR, DIRECTION_NONE, 2},
        {INQUIRY, DIRECTION_IN, 1},
        {{0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0, 0x60, 0}, DIRECTION_OUT, 0},
    };
    for (const auto& c : cases) {
        const int32_t length = c.direction == DIRECTION_NONE ? 0 : 96;
        send(0, c.cdb, c.direction, 1000, length ? data.data() : nullptr, length);
        ASSERT_FALSE(seen.blocks.empty());
        const SCSI_PASS_THROUGH_DIRECT& b = seen.blocks.back().sptd;
        EXPECT_EQ(b.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
        EXPECT_EQ(b.PathId, 1);
        EXPECT_EQ(b.TargetId, 2);
        EXPECT_EQ(b.Lun, 3);
        EXPECT_EQ(b.CdbLength, c.cdb.size());
        EXPECT_EQ(b.SenseInfoLength, 18);
        EXPECT_EQ(b.DataIn, c.data_in);
        EXPECT_EQ(b.DataTransferLength, uint32_t(length));
        EXPECT_EQ(b.DataBuffer, length ? data.data() : nullptr);
        EXPECT_EQ(b.SenseInfoOffset, offsetof(pass_through_direct_block, sense));
        EXPECT_EQ(byte_vector(b.Cdb, b.Cdb + 16), padded(c.cdb));
        EXPECT_EQ(expect::last(seen.block_sizes), std::make_pair(DWORD(sizeof(pass_through_direct_block)),
                                                          DWORD(sizeof(pass_through_direct_block))));
    }
    EXPECT_EQ(host.drive(0).log().size(), 3u);
    EXPECT_EQ(seen.opens, 3);
}

TEST_F(transport_test, pass_through_time_out_in_whole_seconds) {
    host.add_drive_at_letter('D');
    letters("D");
    const std::pair<int32_t, ULONG> cases[] = {{0, 60}, {20000, 20}, {1000, 1}, {1999, 1}, {61000, 61}};
    for (const auto& [ms, seconds] : cases) {
        send(0, TUR, DIRECTION_NONE, ms);
        EXPECT_EQ(expect::last(seen.blocks).sptd.TimeOutValue, seconds) << ms;
        EXPECT_EQ(expect::last(host.drive(0).log()).timeout_ms, seconds * 1000) << ms;
    }
}

TEST_F(transport_test, pass_through_check_condition_brings_its_sense) {
    host.add_drive_at_letter('D');
    letters("D");
    EXPECT_EQ(send(0, TUR), 2);
    EXPECT_EQ(last_sense[0], 0x70);
    EXPECT_EQ(last_sense[2], 0x02);
    EXPECT_EQ(last_sense[12], 0x3A);
    EXPECT_EQ(last_sense[13], 0x00);
    EXPECT_EQ(fetch_sense(), 0);
    EXPECT_EQ(last_sense_code, 0x023A00u);
}

TEST_F(transport_test, pass_through_failures_of_the_call_and_the_drive) {
    struct {
        emu::fault_kind fault;
        int result;
        outcome_kind kind;
        uint8_t status;
        const char* words;  // as the record names the system's error
    } cases[] = {
        {emu::fault_kind::transport, -1, outcome_kind::lost, 0, "Windows error 1117"},
        {emu::fault_kind::timeout, -1, outcome_kind::timed_out, 0, "Windows error 121"},
        {emu::fault_kind::busy, 2, outcome_kind::answered, 0x08, ""},
        {emu::fault_kind::refused, -1, outcome_kind::refused, 0, "Windows error 5"},
    };
    for (const auto& c : cases) {
        host.drives.clear();
        emu::drive_config config;
        config.injected.push_back({1, c.fault});
        host.add_drive_at_letter('D', config);
        letters("D");
        byte_vector image(0x200, 0x5A);
        EXPECT_EQ(send(0, {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0x02, 0, 0}, DIRECTION_OUT, 20000, image.data(), 0x200), c.result);
        // The one outcome of the command says what became of it, with the system's own error when a call failed.
        EXPECT_EQ(last_outcome.kind, c.kind) << static_cast<int>(c.fault);
        EXPECT_EQ(last_outcome.status, c.status);
        EXPECT_EQ(last_outcome.system_error != ERROR_SUCCESS, c.kind != outcome_kind::answered);
        EXPECT_STREQ(last_outcome.system_words, c.words);
        fetch_sense();
        EXPECT_EQ(sense_bytes(), byte_vector(18, 0));
        EXPECT_EQ(last_sense_code, 0u);
    }
}

TEST_F(transport_test, pass_through_takes_no_more_than_18_sense_bytes) {
    host.add_drive_at_letter('D');
    letters("D");
    seen.inflate_sense = true;
    byte_vector expected;
    for (int i = 0; i < 18; ++i) expected.push_back(uint8_t(0xA0 + i));
    EXPECT_EQ(send(0, TUR), 2);
    EXPECT_EQ(sense_bytes(), expected);
    fetch_sense();
    EXPECT_EQ(sense_bytes(), expected);
    EXPECT_EQ(last_sense_code, 0xA2ACADu);
}

TEST_F(transport_test, target_outside_the_table_sends_nothing) {
    host.add_drive_at_letter('D');
    letters("D");
    for (int target : {1, 2, -1}) EXPECT_EQ(send(target, TUR), -1) << target;
    EXPECT_EQ(seen.opens, 0);
    EXPECT_TRUE(host.drive(0).log().empty());
}

TEST_F(transport_test, drive_that_cannot_be_opened) {
    host.add_drive_at_letter('E').open_fails = true;
    letters("EF");  // F: has no drive at all
    for (int target : {0, 1}) {
        ieee1394_adapter = 3;
        EXPECT_EQ(send(target, TUR), -2);
        EXPECT_EQ(ieee1394_adapter, -1);
    }
    EXPECT_TRUE(host.drive(0).log().empty());
    EXPECT_TRUE(seen.blocks.empty());
}

TEST_F(transport_test, open_drive_device_judges_the_queries) {
    struct {
        DWORD capabilities_error, address_error;
        int result, ieee1394;
    } cases[] = {
        {0, 0, 0, -1},
        {ERROR_INVALID_FUNCTION, 0, 0, -1},
        {ERROR_NOT_SUPPORTED, 0, 0, -1},
        {ERROR_GEN_FAILURE, 0, -1, -1},
        {0, ERROR_NOT_SUPPORTED, 0, 2},
        {0, ERROR_INVALID_FUNCTION, -1, -1},
        {0, ERROR_IO_DEVICE, -1, -1},
    };
    sim::drive_slot& slot = host.add_drive_at_letter('E');
    current_target = 2;
    for (const auto& c : cases) {
        slot.capabilities_error = c.capabilities_error;
        slot.address_error = c.address_error;
        EXPECT_EQ(open_drive_device('E', current_target), c.result) << c.capabilities_error << "/" << c.address_error;
        EXPECT_EQ(ieee1394_adapter, c.ieee1394);
        EXPECT_EQ(std::string(device_path), "\\\\.\\E:");
        EXPECT_EQ(host.open_handles(), c.result == 0 ? 1 : 0);
        EXPECT_EQ(device_handle != nullptr, c.result == 0);
        EXPECT_EQ(close_drive_device(), 0);
        EXPECT_EQ(device_handle, nullptr);
    }
}

TEST_F(transport_test, pass_through_probes_use_the_open_device) {
    host.add_drive_at_letter('E');
    ASSERT_EQ(open_drive_device('E', current_target), 0);
    const HANDLE opened = device_handle;
    EXPECT_EQ(pass_through_inquiry(drive_data_buffer.address).code, 0);
    EXPECT_EQ(pass_through_read_drive_info(drive_info).code, 0);
    EXPECT_EQ(device_handle, opened);
    EXPECT_EQ(host.open_handles(), 1);
    close_drive_device();

    const auto& log = host.drive(0).log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].cdb, INQUIRY);
    EXPECT_EQ(log[0].direction, emu::DIR_IN);
    EXPECT_EQ(log[0].data_length, 96u);
    EXPECT_EQ(log[0].timeout_ms, 2000u);
    EXPECT_EQ(log[1].cdb, READ_IDENTITY);
    EXPECT_EQ(log[1].direction, emu::DIR_IN);
    EXPECT_EQ(log[1].data_length, 48u);
    EXPECT_EQ(log[1].timeout_ms, 2000u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(drive_data_buffer.address) + 8, 8), "QUARLEN ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(drive_info) + 16, 8), "ATAPI123");
}

TEST_F(transport_test, pass_through_sense_of_an_earlier_command_is_never_handed_out) {
    emu::drive_config config;
    config.unit_attention_count = 1;
    sim::drive_slot& slot = host.add_drive_at_letter('D', config);
    letters("D");
    EXPECT_EQ(send(0, TUR), 2);
    fetch_sense();
    EXPECT_EQ(last_sense_code, 0x062900u);
    slot.vanished = true;
    EXPECT_EQ(send(0, TUR), -2);
    fetch_sense();
    EXPECT_EQ(last_sense_code, 0u);
    EXPECT_EQ(sense_bytes(), byte_vector(18, 0));
}

TEST_F(transport_test, pass_through_short_answers_leave_no_earlier_bytes) {
    emu::drive_config short_answer;
    short_answer.inquiry_length = 36;
    short_answer.identity_readable = false;
    host.add_drive_at_letter('D');
    host.add_drive_at_letter('E', short_answer);
    letters("DE");
    byte_vector page(96, 0xCD);
    EXPECT_EQ(send(0, INQUIRY, DIRECTION_IN, 5000, page.data(), 96), 0);
    EXPECT_NE(page[40], 0);  // the full answer carries the date text here
    EXPECT_EQ(last_outcome.residual, 0u);
    EXPECT_EQ(send(1, INQUIRY, DIRECTION_IN, 5000, page.data(), 96), 0);
    EXPECT_EQ(last_outcome.residual, 60u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page.data()) + 8, 8), "QUARLEN ");
    EXPECT_EQ(byte_vector(page.begin() + 36, page.end()), byte_vector(60, 0));

    for (char letter : {'D', 'E'}) {
        ASSERT_EQ(open_drive_device(letter, current_target), 0);
        pass_through_inquiry(drive_data_buffer.address);
        pass_through_read_drive_info(drive_info);
        close_drive_device();
    }
    EXPECT_EQ(byte_vector(drive_data_buffer.address + 36, drive_data_buffer.address + 96), byte_vector(60, 0));
    EXPECT_EQ(byte_vector(drive_info, drive_info + 48), byte_vector(48, 0));
}

// --- ASPI ---------------------------------------------------------------------

TEST_F(transport_test, aspi_request_block_as_the_manager_receives_it) {
    host.add_drive_at_address(0, 3);
    host.add_drive_at_address(1, 5);
    aspi({{0, 3}, {1, 5}});
    ieee1394_adapter = 1;
    byte_vector data(96, 0xEE);
    const byte_vector write_block = {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0, 0x60, 0};
    struct {
        int target;
        byte_vector cdb;
        int direction;
        int32_t length;
        BYTE flags;
        bool polled;
    } cases[] = {
        {0, TUR, DIRECTION_NONE, 0, 0x40, false},
        {0, INQUIRY, DIRECTION_IN, 96, 0x48, false},
        {0, write_block, DIRECTION_OUT, 96, 0x50, false},
        {1, READ_IDENTITY, DIRECTION_IN, 48, 0x48, false},
        {1, write_block, DIRECTION_OUT, 96, 0x10, true},
        {1, {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0, 0, 0}, DIRECTION_NONE, 0, 0x00, true},
    };
    for (const auto& c : cases) {
        host.sleeps.clear();
        send(c.target, c.cdb, c.direction, 1000, c.length ? data.data() : nullptr, c.length);
        ASSERT_FALSE(seen.requests.empty());
        const SRB_ExecSCSICmd& r = seen.requests.back();
        EXPECT_EQ(r.SRB_Cmd, 2);
        EXPECT_EQ(r.SRB_Status, 0);
        EXPECT_EQ(r.SRB_HaId, c.target == 0 ? 0 : 1);
        EXPECT_EQ(r.SRB_Flags, c.flags) << int(c.cdb[0]);
        EXPECT_EQ(r.SRB_Target, c.target == 0 ? 3 : 5);
        EXPECT_EQ(r.SRB_Lun, 0);
        EXPECT_EQ(+r.SRB_BufLen, uint32_t(c.length));
        EXPECT_EQ(static_cast<void*>(r.SRB_BufPointer), c.length ? data.data() : nullptr);
        EXPECT_EQ(r.SRB_SenseLen, 18);
        EXPECT_EQ(r.SRB_CDBLen, c.cdb.size());
        EXPECT_EQ(static_cast<void*>(r.SRB_PostProc) == nullptr, c.polled);
        EXPECT_EQ(byte_vector(r.CDBByte, r.CDBByte + 16), padded(c.cdb));
        EXPECT_EQ(host.sleeps.empty(), !c.polled);
    }
    EXPECT_EQ(host.drive(0).log().size() + host.drive(1).log().size(), 6u);
}

TEST_F(transport_test, aspi_event_wait_that_runs_out) {
    // No wait is without limit: no time-out, or the generic SCSI class, waits a
    // minute at least; a manager that gives up sooner is heard out.
    struct {
        int oem;
        int32_t timeout_ms;
        uint32_t manager_gives_up_ms;
        DWORD limit;
        int result;
        uint64_t elapsed;
    } cases[] = {{0, 5000, 60000, 5000, -2, 5000},          {0x300, 5000, 60000, 60000, -1, 60000},
                 {0x300, 5000, 90000, 60000, -2, 60000},    {0x300, 180000, 190000, 180000, -2, 180000},
                 {0, 0, 60000, 60000, -1, 60000},           {0, 0, 3600000, 60000, -2, 60000}};
    for (const auto& c : cases) {
        host.drives.clear();
        host.add_drive_at_address(0, 0, never_answers());
        host.cfg.aspi_manager_timeout_ms = c.manager_gives_up_ms;
        aspi({{0, 0}});
        oem_code = c.oem;
        const uint64_t start = host.elapsed_ms;
        EXPECT_EQ(send(0, INQUIRY, DIRECTION_IN, c.timeout_ms, drive_data_buffer.address, 96), c.result);
        EXPECT_EQ(expect::last(seen.wait_limits), c.limit);
        EXPECT_GE(host.elapsed_ms - start, c.elapsed);
        EXPECT_LT(host.elapsed_ms - start, c.elapsed + 100);
        give_back(request_block_area);
    }
}

TEST_F(transport_test, aspi_request_that_timed_out_is_aborted_before_the_block_is_reused) {
    emu::drive_config config = never_answers();
    config.starts_in_update_mode = true;
    config.block_ms = 50000;
    host.add_drive_at_address(1, 0, config);
    aspi({{1, 0}});
    ieee1394_adapter = 1;
    host.cfg.aspi_manager_timeout_ms = 30000;
    EXPECT_EQ(send(0, INQUIRY, DIRECTION_IN, 5000, drive_data_buffer.address, 96), -2);
    EXPECT_EQ(seen.aborted, std::vector<void*>{block()});
    // Polled for up to a minute: it would end early, at the manager's 30 s, if
    // the first request still completed into the same block.
    byte_vector image(0x200, 0x5A);
    EXPECT_EQ(send(0, {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0x02, 0, 0}, DIRECTION_OUT, 0, image.data(), 0x200), 0);
    EXPECT_EQ(host.drive(0).received_image().size(), 0x200u);
}

// The manager ends an aborted request in its own time. The updater gives it a
// few looks; a request that still holds its block after them leaves that block
// to the manager and the next command takes a fresh one.
TEST_F(transport_test, aspi_aborted_request_is_given_time_to_end_or_left_its_block) {
    struct {
        uint32_t abort_ms;
        size_t sleeps;          // 500 ms looks at the aborted request
        bool block_moves;
    } cases[] = {
        {0, 0, false},
        {1200, 3, false},
        {UINT32_MAX, 10, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.abort_ms);
        host.drives.clear();
        host.add_drive_at_address(0, 0, never_answers());
        aspi({{0, 0}});
        host.cfg.aspi_abort_ms = c.abort_ms;
        host.sleeps.clear();
        request_block_offset = 0;
        SRB_ExecSCSICmd* first = block();
        EXPECT_EQ(send(0, INQUIRY, DIRECTION_IN, 5000, drive_data_buffer.address, 96), -2);
        EXPECT_EQ(host.sleeps, std::vector<uint32_t>(c.sleeps, 500));
        EXPECT_EQ(block() != first, c.block_moves);
        // The next command is judged by its own answer, whoever still holds the old block.
        EXPECT_EQ(send(0, TUR, DIRECTION_NONE, 5000), -1);
        EXPECT_EQ(last_sense_code, 0x023A00u);
        give_back(request_block_area);
    }
}

// Data a drive did not take whole is not written, even with GOOD status; an
// answer shorter than asked is still an answer.
TEST_F(transport_test, pass_through_short_data_out_is_a_failure) {
    emu::drive_config config;
    config.starts_in_update_mode = true;
    host.add_drive_at_letter('E', config);
    letters("E");
    seen.short_transfer = true;
    byte_vector block(256, 0x5A);
    EXPECT_EQ(send(0, {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0x01, 0x00, 0}, DIRECTION_OUT, 20000, block.data(), 256), -1);
    byte_vector data(96, 0);
    EXPECT_EQ(send(0, INQUIRY, DIRECTION_IN, 5000, data.data(), 96), 0);
}

TEST_F(transport_test, aspi_write_buffer_on_ieee1394_adapter_is_polled) {
    struct {
        uint32_t block_ms;  // 0: the drive never answers
        int32_t timeout_ms;
        int result;
        size_t sleeps;
        bool aborted;
        uint32_t manager_gives_up_ms = 60000;
    } cases[] = {
        {20, 20000, 0, 1, false},
        {19999, 20000, 0, 40, false},
        {20000, 20000, -1, 41, false},  // ended during the 41st sleep: nothing left to abort
        {0, 20000, -1, 41, true},
        {0, 0, -1, 120, false},  // the manager gives up after 60 s
        {0, 0, -1, 121, true, 3600000},  // no time-out is a minute, not for ever
    };
    for (const auto& c : cases) {
        emu::drive_config config = c.block_ms ? emu::drive_config{} : never_answers();
        config.starts_in_update_mode = true;
        config.block_ms = c.block_ms;
        host.drives.clear();
        host.cfg.aspi_manager_timeout_ms = c.manager_gives_up_ms;
        host.add_drive_at_address(1, 0, config);
        host.sleeps.clear();
        seen = {};
        aspi({{1, 0}});
        ieee1394_adapter = 1;
        byte_vector image(0x200, 0x5A);
        EXPECT_EQ(send(0, {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0x02, 0, 0}, DIRECTION_OUT, c.timeout_ms, image.data(), 0x200),
                  c.result)
            << c.block_ms;
        EXPECT_EQ(host.sleeps, std::vector<uint32_t>(c.sleeps, 500)) << c.block_ms;
        EXPECT_TRUE(seen.wait_limits.empty());
        EXPECT_EQ(seen.aborted.size(), c.aborted ? 1u : 0u);
        give_back(request_block_area);
    }
}

// The Intel IDE driver fails commands to a drive that is only becoming ready;
// such a failure is excused, except for TEST UNIT READY, for a command that was
// to bring data back (it brought none, and an empty answer must not read as the
// drive's) and for an image block (it was not taken).
TEST_F(transport_test, aspi_intel_ide_driver_excuses_not_ready_only_without_data_in) {
    const byte_vector STOP_UNIT = {0x1B, 0, 0, 0, 0, 0};
    const byte_vector ENTER = {0x3B, 0x04, 0xFF, 0, 0, 0, 0, 0x01, 0x00, 0};
    const byte_vector IMAGE_BLOCK = {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0x01, 0x00, 0};
    struct {
        int intel;
        byte_vector cdb;
        int direction;
        int32_t length;
        uint8_t key, asc, ascq;
        int result;
    } cases[] = {
        {1, STOP_UNIT, DIRECTION_NONE, 0, 0x02, 0x04, 0x01, 0},
        {1, ENTER, DIRECTION_OUT, 256, 0x02, 0x04, 0x01, 0},
        {1, IMAGE_BLOCK, DIRECTION_OUT, 256, 0x02, 0x04, 0x01, -1},
        {1, INQUIRY, DIRECTION_IN, 96, 0x02, 0x04, 0x01, -1},
        {1, READ_IDENTITY, DIRECTION_IN, 48, 0x02, 0x04, 0x01, -1},
        {1, TUR, DIRECTION_NONE, 0, 0x02, 0x3A, 0x00, -1},
        {0, STOP_UNIT, DIRECTION_NONE, 0, 0x02, 0x04, 0x01, -1},
        {1, STOP_UNIT, DIRECTION_NONE, 0, 0x05, 0x24, 0x00, -1},
    };
    for (const auto& c : cases) {
        emu::drive_config config;
        config.injected.push_back({1, emu::fault_kind::check_condition, c.key, c.asc, c.ascq});
        host.drives.clear();
        host.add_drive_at_address(0, 0, config);
        aspi({{0, 0}});
        intel_ide_driver = c.intel;
        byte_vector data(256, 0xAB);
        EXPECT_EQ(send(0, c.cdb, c.direction, 1000, c.length ? data.data() : nullptr, c.length), c.result)
            << int(c.cdb[0]);
        EXPECT_EQ(last_sense_code, uint32_t(c.key) << 16 | uint32_t(c.asc) << 8 | c.ascq);
        EXPECT_TRUE(last_outcome.drive_answered());
        give_back(request_block_area);
    }
}

TEST_F(transport_test, aspi_requests_the_manager_refuses_are_not_waited_for) {
    host.add_drive_at_address(0, 0);
    host.add_drive_at_address(1, 0);
    aspi({{0, 0}, {1, 9}});
    host.cfg.adapters[0].rejects_requests = true;
    for (int target : {0, 1}) EXPECT_EQ(send(target, TUR, DIRECTION_NONE, 0), -1);
    EXPECT_EQ(aspi_inquiry(0, 0, drive_data_buffer.address).code, -1);
    EXPECT_EQ(aspi_read_drive_info(1, 9, drive_info).code, -1);
    EXPECT_TRUE(seen.wait_limits.empty());
    EXPECT_EQ(host.elapsed_ms, 0u);
    // A polled request is first looked at after 500 ms, refused or not.
    ieee1394_adapter = 0;
    byte_vector image(0x200, 0x5A);
    EXPECT_EQ(send(0, {0x3B, 0x07, 0xF0, 0, 0, 0, 0, 0x02, 0, 0}, DIRECTION_OUT, 20000, image.data(), 0x200), -1);
    EXPECT_EQ(host.sleeps, std::vector<uint32_t>{500});
}

TEST_F(transport_test, aspi_manager_answering_at_once) {
    host.add_drive_at_address(0, 0);
    aspi({{0, 0}});
    // Finished within the call: judged at once.
    send_aspi_command = [](void* request) -> DWORD {
        static_cast<SRB_ExecSCSICmd*>(request)->SRB_Status = SS_COMP;
        return SS_COMP;
    };
    EXPECT_EQ(send(0, TUR, DIRECTION_NONE, 0), 0);
    EXPECT_EQ(aspi_inquiry(0, 0, drive_data_buffer.address).code, 0);
    // Not accepted and never finished: a failure, never a wait.
    send_aspi_command = [](void*) -> DWORD { return SS_ERR; };
    EXPECT_EQ(send(0, TUR, DIRECTION_NONE, 0), -1);
    EXPECT_FALSE(last_outcome.drive_answered());
    EXPECT_EQ(aspi_inquiry(0, 0, drive_data_buffer.address).code, -1);
    EXPECT_TRUE(seen.wait_limits.empty());
    // Ended in error with the adapter's status good: the drive answered, even
    // without a target status (the Intel driver's empty drive); not so when
    // the adapter failed it.
    send_aspi_command = [](void* request) -> DWORD {
        auto* block = static_cast<SRB_ExecSCSICmd*>(request);
        block->SRB_Status = SS_ERR;
        return SS_ERR;
    };
    EXPECT_EQ(send(0, TUR, DIRECTION_NONE, 0), -1);
    EXPECT_TRUE(last_outcome.drive_answered());
    send_aspi_command = [](void* request) -> DWORD {
        auto* block = static_cast<SRB_ExecSCSICmd*>(request);
        block->SRB_HaStat = 0x11;
        block->SRB_Status = SS_ERR;
        return SS_ERR;
    };
    EXPECT_EQ(send(0, TUR, DIRECTION_NONE, 0), -1);
    EXPECT_FALSE(last_outcome.drive_answered());
}

TEST_F(transport_test, aspi_request_without_an_event_is_not_sent) {
    host.add_drive_at_address(0, 0);
    aspi({{0, 0}});
    seen.events_fail = true;
    EXPECT_EQ(send(0, TUR), -1);
    EXPECT_EQ(aspi_inquiry(0, 0, drive_data_buffer.address).code, -1);
    EXPECT_EQ(aspi_read_drive_info(0, 0, drive_info).code, -1);
    EXPECT_TRUE(seen.requests.empty());
    EXPECT_TRUE(host.drive(0).log().empty());
}

TEST_F(transport_test, aspi_wait_results_other_than_signalled_are_failures) {
    struct {
        DWORD wait;
        bool ended;  // the manager finished the request all the same
        int result;
    } cases[] = {
        {WAIT_TIMEOUT, false, -2}, {WAIT_FAILED, false, -1}, {0x80 /* WAIT_ABANDONED */, false, -1},
        {WAIT_TIMEOUT, true, -2},  {WAIT_FAILED, true, -1},  {0x80, true, -1},
    };
    host.add_drive_at_address(0, 0);
    aspi({{0, 0}});
    for (const auto& c : cases) {
        seen.forced_wait = c.wait;
        seen.manager_runs_first = c.ended;
        const std::vector<void*> aborted = c.ended ? std::vector<void*>{} : std::vector<void*>{block()};
        seen.aborted.clear();
        EXPECT_EQ(send(0, READ_IDENTITY, DIRECTION_IN, 5000, drive_info, 48), c.result) << c.wait << c.ended;
        EXPECT_EQ(seen.aborted, aborted);
        seen.aborted.clear();
        EXPECT_EQ(aspi_inquiry(0, 0, drive_data_buffer.address).code, -1);
        EXPECT_EQ(seen.aborted, aborted);
    }
}

TEST_F(transport_test, aspi_sense_of_an_earlier_command_is_never_handed_out) {
    emu::drive_config config;
    config.unit_attention_count = 1;
    host.add_drive_at_address(0, 0, config);
    aspi({{0, 0}});
    EXPECT_EQ(send(0, TUR), -1);
    EXPECT_EQ(last_sense_code, 0x062900u);
    host.cfg.adapters[0].rejects_requests = true;
    EXPECT_EQ(send(0, TUR), -1);
    fetch_sense();
    EXPECT_EQ(last_sense_code, 0u);
    EXPECT_EQ(sense_bytes(), byte_vector(18, 0));
}

TEST_F(transport_test, aspi_probes) {
    emu::drive_config short_answer;
    short_answer.inquiry_length = 36;
    short_answer.identity_readable = false;
    host.add_drive_at_address(1, 0);
    host.add_drive_at_address(1, 1, short_answer);
    aspi({});

    EXPECT_EQ(aspi_inquiry(1, 0, drive_data_buffer.address).code, 0);
    const SRB_ExecSCSICmd& r = expect::last(seen.requests);
    EXPECT_EQ(r.SRB_Flags, 0x48);
    EXPECT_EQ(r.SRB_SenseLen, 0);
    EXPECT_NE(static_cast<void*>(r.SRB_PostProc), nullptr);
    EXPECT_EQ(r.SRB_CDBLen, 6);
    EXPECT_EQ(byte_vector(r.CDBByte, r.CDBByte + 16), padded(INQUIRY));
    EXPECT_EQ(+r.SRB_BufLen, 96u);
    EXPECT_EQ(static_cast<void*>(r.SRB_BufPointer), drive_data_buffer.address);
    EXPECT_EQ(expect::last(seen.wait_limits), 60000u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(drive_data_buffer.address) + 8, 8), "QUARLEN ");

    EXPECT_EQ(aspi_read_drive_info(1, 0, drive_info).code, 0);
    EXPECT_EQ(byte_vector(seen.requests.back().CDBByte, seen.requests.back().CDBByte + 16), padded(READ_IDENTITY));
    EXPECT_EQ(+seen.requests.back().SRB_BufLen, 48u);
    EXPECT_EQ(static_cast<void*>(seen.requests.back().SRB_BufPointer), drive_info);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(drive_info) + 16, 8), "ATAPI123");

    EXPECT_EQ(aspi_inquiry(1, 1, drive_data_buffer.address).code, 0);
    EXPECT_EQ(byte_vector(drive_data_buffer.address + 36, drive_data_buffer.address + 96), byte_vector(60, 0));
    EXPECT_EQ(aspi_read_drive_info(1, 1, drive_info).code, -1);
    EXPECT_EQ(byte_vector(drive_info, drive_info + 48), byte_vector(48, 0));
    EXPECT_EQ(sense_bytes(), byte_vector(18, 0));
    EXPECT_EQ(host.drive(0).log().size() + host.drive(1).log().size(), 4u);
}

}  // namespace
