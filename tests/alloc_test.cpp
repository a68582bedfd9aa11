// The allocation failure of the loading phase, for real: a legitimate run-length
// picture of 65535 x 65535 pixels (134 MB of packets, written at test time)
// passes every check, and its 8589672450-byte pixel buffer cannot be had under
// a lowered address-space limit. The viewer itself runs, on SDL's dummy video
// driver, with the present counter preloaded to note every presented frame.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sample_folder.h"

namespace {

constexpr std::uint16_t side = 65535;
// 65535 * 65535 = 128 * 33553408 + 1: that many full run packets, then one of a single pixel.
constexpr std::uint32_t full_packets = 33553408;
constexpr std::uint64_t pixel_bytes = std::uint64_t{side} * side * 2;
static_assert(pixel_bytes == 8589672450u);
static_assert(std::uint64_t{full_packets} * 128 + 1 == std::uint64_t{side} * side);

// Room for the viewer, SDL and the 134 MB file buffer, far below 8 GB.
constexpr rlim_t address_space_limit = rlim_t{1} << 30;

bool write_huge_picture(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const std::vector<std::uint8_t> header = tga_header(10, side, side, 24, 0x20);
    bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
    const std::uint8_t run[4] = {0xFF, 0x40, 0x80, 0xC0};
    std::vector<std::uint8_t> chunk;
    for (int i = 0; i < 65536; ++i)
        chunk.insert(chunk.end(), run, run + 4);
    for (std::uint32_t left = full_packets; ok && left > 0;) {
        const std::uint32_t n = left < 65536 ? left : 65536;
        ok = std::fwrite(chunk.data(), 4, n, f) == n;
        left -= n;
    }
    const std::uint8_t last[4] = {0x80, 0x40, 0x80, 0xC0};
    ok = ok && std::fwrite(last, 1, 4, f) == 4;
    return std::fclose(f) == 0 && ok;
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct viewer_run {
    pid_t pid;
    std::string out_path, err_path, presents_path;
};

// Starts the viewer in the current folder with its output in files.
viewer_run start_viewer(rlim_t address_space)
{
    viewer_run run{-1, "viewer.out", "viewer.err", "viewer.presents"};
    std::fflush(nullptr);
    run.pid = fork();
    if (run.pid == 0) {
        const int out = open(run.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(run.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(120);
        const rlimit limit{address_space, address_space};
        if (address_space != RLIM_INFINITY && setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(121);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        setenv("LD_PRELOAD", PRESENT_COUNTER_MODULE, 1);
        setenv("VELMORA_PRESENTS", run.presents_path.c_str(), 1);
        execl(VELMORA_VIEWER, VELMORA_VIEWER, static_cast<char*>(nullptr));
        _exit(122);
    }
    return run;
}

// The exit status, or -1 when the viewer still runs after `seconds`.
int wait_for_exit(pid_t pid, int seconds)
{
    for (int tenths = 0; tenths < seconds * 10; ++tenths) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return -1;
}

void stop(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

const char frame_line[] = "frame\n";

struct huge_picture : testing::Test {
    sample_folder folder;
    rgb_picture small = make_picture(32, 32, {10, 200, 30});

    void SetUp() override
    {
        tga_layout raw;
        for (int i = 0; i < 4; ++i)
            folder.put(i, tga_encode(small, raw));
    }
};

// Without this, "no frame" below could pass because the counter saw nothing.
TEST_F(huge_picture, counter_sees_the_frames_of_a_good_run)
{
    const viewer_run run = start_viewer(address_space_limit);
    ASSERT_GT(run.pid, 0);
    bool seen = false;
    for (int tenths = 0; tenths < 300 && !seen; ++tenths) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        seen = contents(run.presents_path).find(frame_line) != std::string::npos;
    }
    EXPECT_EQ(wait_for_exit(run.pid, 0), -1) << "the viewer ended instead of presenting";
    stop(run.pid);
    EXPECT_TRUE(seen) << contents(run.presents_path);
}

TEST_F(huge_picture, failed_pixel_allocation_is_reported_and_nothing_is_presented)
{
    ASSERT_TRUE(write_huge_picture(sample_folder::path(1)));
    const viewer_run run = start_viewer(address_space_limit);
    ASSERT_GT(run.pid, 0);
    const int status = wait_for_exit(run.pid, 60);
    if (status == -1)
        stop(run.pid);
    EXPECT_EQ(status, 255);
    EXPECT_EQ(contents(run.out_path), header_lines("tga/sample_0.tga", 32, 32, 0, 24, 2) +
                                          header_lines("tga/sample_1.tga", 65535, 65535, 1, 24, 10) +
                                          "error: [alloc. 8589672450] failed\n");
    // "loaded" proves the counter was in the process, so no "frame" means none was presented.
    EXPECT_EQ(contents(run.presents_path), "loaded\n");
    EXPECT_EQ(contents(run.err_path), "");
}

} // namespace
