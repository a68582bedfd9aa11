// A fresh working folder holding tga/, and the loading phase run inside it
// against an in-memory 512 x 512 screen with its output captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "fenced.h"
#include "tga_writer.h"
#include "velmora.h"

constexpr pixel16 background_blue = 0x001F;

struct sample_folder {
    std::string root;
    std::string previous;

    sample_folder()
    {
        char cwd[4096];
        previous = getcwd(cwd, sizeof cwd) ? cwd : ".";
        char name[] = "/tmp/velmora-test-XXXXXX";
        root = mkdtemp(name) ? name : "";
        EXPECT_FALSE(root.empty());
        EXPECT_EQ(mkdir((root + "/tga").c_str(), 0755), 0);
        EXPECT_EQ(chdir(root.c_str()), 0);
    }
    ~sample_folder()
    {
        if (chdir(previous.c_str()) != 0)
            ADD_FAILURE() << "cannot go back to " << previous;
        const std::string command = "rm -rf '" + root + "'";
        if (std::system(command.c_str()) != 0)
            ADD_FAILURE() << "cannot remove " << root;
    }
    sample_folder(const sample_folder&) = delete;
    sample_folder& operator=(const sample_folder&) = delete;

    static std::string path(int index) { return "tga/sample_" + std::to_string(index) + ".tga"; }

    void put(int index, const std::vector<std::uint8_t>& bytes) const
    {
        ASSERT_TRUE(write_file(path(index), bytes));
    }
};

struct loading_result {
    int status;
    std::string out, err;
};

inline loading_result run_loading(fenced_sprite& screen)
{
    const area_t everything{0, 0, screen.sprite.w, screen.sprite.h};
    area_fill_16(&screen.sprite, background_blue, &everything);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = load_samples(&screen.sprite);
    std::fflush(stdout);
    std::fflush(stderr);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    return {status, out, err};
}

// The six lines the viewer prints for a file it could read a header from.
inline std::string header_lines(const std::string& path, int w, int h, int hv, int bpp, int type)
{
    return path + "\nw: " + std::to_string(w) + "\nh: " + std::to_string(h) +
           "\nhv: " + std::to_string(hv) + "\nbpp: " + std::to_string(bpp) +
           "\ntype: " + std::to_string(type) + "\n";
}
