// The Linux host's platform table against emulated drives: run with
// libsgio-emu preloaded and host_drives.json as its scenario, so every call
// goes through the real open, ioctl(SG_IO) and close of this process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/linux/linux_host.h"
#include "transport/transport.h"

namespace {

using bytes = std::vector<uint8_t>;

// The block as the updater lays it out.
using block_with_sense = pass_through_direct_block;

// A sysfs of the test's own: no test touches the machine's media polling.
const std::string& test_sysfs() {
    static const std::string root = [] {
        char pattern[] = "/tmp/odd-sysfs-XXXXXX";
        return std::string(mkdtemp(pattern) ? pattern : "/nonexistent");
    }();
    return root;
}

class linux_table : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("ODD_SGIO_SCENARIO"), nullptr) << "run with libsgio-emu preloaded";
        ::setenv("ODD_SYSFS_ROOT", test_sysfs().c_str(), 1);
        install_linux_host();
    }

    static HANDLE open_drive(char letter) {
        char path[] = "\\\\.\\?:";
        path[4] = letter;
        return host::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    }

    // Sends one command; returns DeviceIoControl's result and leaves the block in `b`.
    static BOOL send(HANDLE drive, block_with_sense& b, std::initializer_list<uint8_t> cdb, UCHAR data_in,
                     void* data, ULONG length) {
        b = {};
        b.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        b.sptd.CdbLength = static_cast<UCHAR>(cdb.size());
        std::copy(cdb.begin(), cdb.end(), b.sptd.Cdb);
        b.sptd.SenseInfoLength = 18;
        b.sptd.SenseInfoOffset = offsetof(block_with_sense, sense);
        b.sptd.DataIn = data_in;
        b.sptd.DataTransferLength = length;
        b.sptd.DataBuffer = data;
        b.sptd.TimeOutValue = 20;
        DWORD returned = 0;
        return host::DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH_DIRECT, &b, sizeof b, &b, sizeof b, &returned,
                                     nullptr);
    }

    static BOOL test_unit_ready(HANDLE drive, block_with_sense& b) {
        return send(drive, b, {0x00, 0, 0, 0, 0, 0}, SCSI_IOCTL_DATA_UNSPECIFIED, nullptr, 0);
    }
};

// Descriptors of this process that fstat shows as the block device major:minor.
int descriptors_of(unsigned major_number, unsigned minor_number) {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* entry = readdir(dir)) {
        struct stat status;
        const int fd = std::atoi(entry->d_name);
        if (entry->d_name[0] == '.' || fd == dirfd(dir) || fstat(fd, &status) != 0) continue;
        if (S_ISBLK(status.st_mode) && status.st_rdev == makedev(major_number, minor_number)) ++count;
    }
    closedir(dir);
    return count;
}

TEST_F(linux_table, a_drive_opens_and_answers_as_a_scsi_addressed_device) {
    HANDLE drive = open_drive('E');
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    IO_SCSI_CAPABILITIES capabilities{};
    SCSI_ADDRESS address{};
    DWORD returned = 0;
    EXPECT_TRUE(host::DeviceIoControl(drive, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &capabilities,
                                      sizeof capabilities, &returned, nullptr));
    EXPECT_EQ(capabilities.Length, sizeof capabilities);
    EXPECT_TRUE(host::DeviceIoControl(drive, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned,
                                      nullptr));
    EXPECT_EQ(address.Length, sizeof address);
    PREVENT_MEDIA_REMOVAL off{1};
    EXPECT_TRUE(host::DeviceIoControl(drive, IOCTL_STORAGE_MCN_CONTROL, &off, sizeof off, nullptr, 0, &returned,
                                      nullptr));
    EXPECT_FALSE(host::DeviceIoControl(drive, 0x12345678, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(host::GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(host::CloseHandle(drive));
    EXPECT_FALSE(host::CloseHandle(drive));
    EXPECT_EQ(host::GetLastError(), ERROR_INVALID_HANDLE);
}

std::string file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(linux_table, media_polling_stops_while_notification_is_off) {
    const std::string folder = test_sysfs() + "/class/block/sr1";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/events_poll_msecs") << "2000\n";
    HANDLE e = host::CreateFileA("\\\\.\\E:", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE f = host::CreateFileA("\\\\.\\F:", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    PREVENT_MEDIA_REMOVAL off{1}, on{0};
    DWORD returned = 0;
    EXPECT_TRUE(host::DeviceIoControl(e, IOCTL_STORAGE_MCN_CONTROL, &off, sizeof off, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(file_text(folder + "/events_poll_msecs"), "0");
    // F: has no polling file here: its notification is taken all the same.
    EXPECT_TRUE(host::DeviceIoControl(f, IOCTL_STORAGE_MCN_CONTROL, &off, sizeof off, nullptr, 0, &returned, nullptr));
    EXPECT_TRUE(host::DeviceIoControl(e, IOCTL_STORAGE_MCN_CONTROL, &on, sizeof on, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(file_text(folder + "/events_poll_msecs"), "2000\n");
    EXPECT_TRUE(host::DeviceIoControl(f, IOCTL_STORAGE_MCN_CONTROL, &on, sizeof on, nullptr, 0, &returned, nullptr));
    host::CloseHandle(e);
    host::CloseHandle(f);
    std::filesystem::remove_all(test_sysfs() + "/class");  // the drives' devices stay, as the kernel keeps them
}

TEST_F(linux_table, a_letter_without_a_drive_is_not_found) {
    EXPECT_EQ(open_drive('N'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(host::GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(open_drive('C'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(host::GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(linux_table, inquiry_data_lands_in_the_callers_buffer) {
    HANDLE drive = open_drive('E');
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    uint8_t data[96];
    std::memset(data, 0xEE, sizeof data);
    block_with_sense b;
    ASSERT_TRUE(send(drive, b, {0x12, 0, 0, 0, 0x60, 0}, SCSI_IOCTL_DATA_IN, data, sizeof data));
    EXPECT_EQ(b.sptd.ScsiStatus, 0);
    EXPECT_EQ(b.sptd.DataTransferLength, 96u);
    EXPECT_EQ(b.sptd.SenseInfoLength, 0);
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, 28), "QUARLEN DVD-RW  KWR-322 1.23");
    host::CloseHandle(drive);
}

TEST_F(linux_table, no_medium_arrives_as_fixed_sense_in_either_format) {
    for (char letter : {'E', 'F'}) {
        HANDLE drive = open_drive(letter);
        ASSERT_NE(drive, INVALID_HANDLE_VALUE);
        block_with_sense b;
        std::memset(b.sense, 0xEE, sizeof b.sense);
        ASSERT_TRUE(test_unit_ready(drive, b)) << letter;
        EXPECT_EQ(b.sptd.ScsiStatus, 0x02) << letter;
        EXPECT_EQ(b.sptd.SenseInfoLength, 18) << letter;
        EXPECT_EQ(b.sense[0], 0x70) << letter;
        EXPECT_EQ(b.sense[2], 0x02) << letter;
        EXPECT_EQ(b.sense[12], 0x3A) << letter;
        EXPECT_EQ(b.sense[13], 0x00) << letter;
        host::CloseHandle(drive);
    }
}

TEST_F(linux_table, a_disc_makes_test_unit_ready_good) {
    HANDLE drive = open_drive('L');
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    block_with_sense b;
    ASSERT_TRUE(test_unit_ready(drive, b));
    EXPECT_EQ(b.sptd.ScsiStatus, 0);
    EXPECT_EQ(b.sptd.SenseInfoLength, 0);
    host::CloseHandle(drive);
}

TEST_F(linux_table, a_time_out_or_a_lost_command_fails_the_call) {
    block_with_sense b;
    HANDLE slow = open_drive('G');
    ASSERT_NE(slow, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(test_unit_ready(slow, b));
    EXPECT_EQ(host::GetLastError(), ERROR_SEM_TIMEOUT);
    uint16_t adapter = 0, driver = 0xFF;
    host::adapter_status(&adapter, &driver);
    EXPECT_EQ(adapter, 0x03);  // the adapter's time-out, as a number the transport keeps
    EXPECT_EQ(driver, 0);
    host::CloseHandle(slow);
    HANDLE lost = open_drive('H');
    ASSERT_NE(lost, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(test_unit_ready(lost, b));
    EXPECT_EQ(host::GetLastError(), ERROR_IO_DEVICE);
    host::CloseHandle(lost);
}

TEST_F(linux_table, a_handle_without_access_carries_no_commands) {
    HANDLE query = host::CreateFileA("\\\\.\\E:", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                     nullptr);
    ASSERT_NE(query, INVALID_HANDLE_VALUE);
    PREVENT_MEDIA_REMOVAL off{1};
    DWORD returned = 0;
    EXPECT_TRUE(host::DeviceIoControl(query, IOCTL_STORAGE_MCN_CONTROL, &off, sizeof off, nullptr, 0, &returned,
                                      nullptr));
    block_with_sense b;
    EXPECT_FALSE(test_unit_ready(query, b));
    EXPECT_EQ(host::GetLastError(), ERROR_ACCESS_DENIED);
    host::CloseHandle(query);
}

TEST_F(linux_table, a_drive_stays_open_between_commands) {
    const unsigned minor_of_e = 1;
    for (int round = 0; round < 3; ++round) {
        HANDLE drive = open_drive('E');
        ASSERT_NE(drive, INVALID_HANDLE_VALUE);
        block_with_sense b;
        test_unit_ready(drive, b);
        host::CloseHandle(drive);
        EXPECT_EQ(descriptors_of(11, minor_of_e), 1) << "round " << round;
    }
}

TEST_F(linux_table, a_drive_that_came_back_is_opened_again_for_the_same_command) {
    const unsigned minor_of_p = 12;
    HANDLE drive = open_drive('P');
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    block_with_sense b;
    ASSERT_TRUE(test_unit_ready(drive, b));  // after it the drive detaches and returns
    host::CloseHandle(drive);
    drive = open_drive('P');
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(test_unit_ready(drive, b));
    EXPECT_EQ(b.sptd.ScsiStatus, 0x02);
    EXPECT_EQ(b.sense[12], 0x3A);
    host::CloseHandle(drive);
    EXPECT_EQ(descriptors_of(11, minor_of_p), 1);
}

TEST_F(linux_table, permission_refusals_are_told_once_naming_the_device) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(open_drive('K'), INVALID_HANDLE_VALUE);
    EXPECT_EQ(host::GetLastError(), ERROR_PRIVILEGE_NOT_HELD);  // a drive is there, not for this run
    HANDLE drive = open_drive('J');
    ASSERT_NE(drive, INVALID_HANDLE_VALUE);
    uint8_t inquiry[96];
    block_with_sense b;
    EXPECT_TRUE(send(drive, b, {0x12, 0, 0, 0, 0x60, 0}, SCSI_IOCTL_DATA_IN, inquiry, sizeof inquiry));
    uint8_t mode_block[256] = {};
    EXPECT_FALSE(send(drive, b, {0x3B, 0x04, 0xFF, 0, 0, 0, 0, 0x01, 0x00, 0}, SCSI_IOCTL_DATA_OUT, mode_block,
                      sizeof mode_block));
    EXPECT_EQ(host::GetLastError(), ERROR_ACCESS_DENIED);
    host::CloseHandle(drive);
    EXPECT_EQ(open_drive('K'), INVALID_HANDLE_VALUE);
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(told,
              "odd-fwupdate: access to /dev/sr7 was refused: run as root, or with write access to /dev/sr7 and the "
              "CAP_SYS_RAWIO capability\n");
}

TEST_F(linux_table, a_stand_in_device_reaches_its_drive) {
    const int fd = ::open("/dev/zero", O_RDWR);
    ASSERT_GE(fd, 0);
    uint8_t cdb[6] = {0x12, 0, 0, 0, 0x60, 0};
    uint8_t data[96] = {};
    uint8_t sense[32];
    sg_io_hdr_t request{};
    request.interface_id = 'S';
    request.dxfer_direction = SG_DXFER_FROM_DEV;
    request.cmd_len = sizeof cdb;
    request.cmdp = cdb;
    request.dxfer_len = sizeof data;
    request.dxferp = data;
    request.mx_sb_len = sizeof sense;
    request.sbp = sense;
    request.timeout = 2000;
    ASSERT_EQ(::ioctl(fd, SG_IO, &request), 0);
    EXPECT_EQ(request.status, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, 8), "QUARLEN ");
    struct stat status;
    ASSERT_EQ(::fstat(fd, &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode));  // a stand-in keeps its own identity
    ::close(fd);
}

TEST_F(linux_table, an_emulated_device_looks_like_the_kernels_to_other_clients) {
    const int fd = ::open("/dev/sr1", O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    struct stat status;
    ASSERT_EQ(::fstat(fd, &status), 0);
    EXPECT_TRUE(S_ISBLK(status.st_mode));
    EXPECT_EQ(status.st_rdev, makedev(11, 1));
    int version = 0;
    ASSERT_EQ(::ioctl(fd, SG_GET_VERSION_NUM, &version), 0);
    EXPECT_EQ(version, 30527);
    ::close(fd);
    EXPECT_LT(::open("/dev/sr21", O_RDONLY), 0);  // no drive at V:
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(linux_table, the_host_is_nt_without_registry_or_aspi) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(host::GetVersionExA(&version));
    EXPECT_EQ(version.dwPlatformId, VER_PLATFORM_WIN32_NT);
    HKEY key = nullptr;
    EXPECT_NE(host::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\INTEL\\Intel Ultra ATA Storage Driver", 0, KEY_READ,
                                  &key),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(host::LoadLibraryA("WNASPI32.DLL"), nullptr);
}

TEST_F(linux_table, memory_files_and_the_clock) {
    HGLOBAL memory = host::GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, 4096);
    auto* block = static_cast<uint8_t*>(host::GlobalLock(memory));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(std::count(block, block + 4096, 0), 4096);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 4096, 0u);  // SG_IO maps aligned buffers without a copy
    host::GlobalUnlock(memory);
    EXPECT_EQ(host::GlobalFree(memory), nullptr);

    char name[] = "/tmp/odd-linux-host-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "0123456789", 10), 10);
    ::close(fd);
    HANDLE file = host::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD high = 7;
    EXPECT_EQ(host::GetFileSize(file, &high), 10u);
    EXPECT_EQ(high, 0u);
    char text[16] = {};
    DWORD read = 0;
    EXPECT_TRUE(host::ReadFile(file, text, sizeof text, &read, nullptr));
    EXPECT_EQ(read, 10u);
    EXPECT_STREQ(text, "0123456789");
    host::CloseHandle(file);
    ::unlink(name);
    EXPECT_EQ(host::CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(host::GetLastError(), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(host::timeBeginPeriod(1), TIMERR_NOERROR);
    const DWORD start = host::timeGetTime();
    host::Sleep(30);
    const DWORD elapsed = host::timeGetTime() - start;
    EXPECT_GE(elapsed, 30u);
    EXPECT_LT(elapsed, 2000u);
    EXPECT_EQ(host::timeEndPeriod(1), TIMERR_NOERROR);
}

}  // namespace
