// The real viewer binary as a child process: its own working folder, its
// standard output and error in files, its exit status.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

enum class sdl_runtime { classic, compat };

// Which SDL 1.2 library the run asks for, from VELMORA_E2E_RUNTIME (default classic).
sdl_runtime runtime_under_test();
const char* runtime_name(sdl_runtime runtime);

struct viewer_options {
    std::string display;           // DISPLAY for the viewer; empty: none at all
    sdl_runtime runtime = sdl_runtime::classic;
    std::string sdl_video_driver;  // SDL_VIDEODRIVER; empty: SDL chooses
    bool count_presents = true;    // preload the present counter
    std::vector<std::string> wrapper; // a program that runs the viewer, e.g. valgrind
};

struct viewer_process {
    pid_t pid = -1;
    std::string out_path, err_path, presents_path;
    bool ended = false;
    int wait_status = 0;
};

// Starts the viewer with `work` as its working folder; its output goes to files
// in `folder`, outside `work`.
bool start_viewer(const std::string& folder, const std::string& work, const viewer_options& options,
                  viewer_process* viewer, std::string* why);
// Non-blocking: true once the process has ended (its status is then kept).
bool viewer_ended(viewer_process* viewer);
bool wait_viewer_end(viewer_process* viewer, double timeout_s);
void kill_viewer(viewer_process* viewer);
// The exit status, or -1 when the process did not end by exit().
int exit_status(const viewer_process& viewer);
std::string describe_end(const viewer_process& viewer);

// Frames the viewer presented, and whether the counter was in the process at all.
struct present_count {
    bool counter_loaded = false;
    int frames = 0;
};
present_count read_presents(const viewer_process& viewer);

// The file of the SDL 1.2 library mapped into the process, empty if none.
std::string mapped_sdl_library(pid_t pid);

std::string read_file(const std::string& path);
std::string make_temp_folder();
void remove_folder(const std::string& path);
