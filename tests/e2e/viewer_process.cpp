#include "viewer_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

bool starts_with(const std::string& text, const char* prefix)
{
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// The caller's environment without anything that would choose a display, an SDL
// library or a video driver behind the test's back; then the test's own choices.
std::vector<std::string> viewer_environment(const viewer_options& options,
                                            const std::string& presents_path)
{
    static const char* const chosen_here[] = {
        "DISPLAY=", "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=", "LD_LIBRARY_PATH=",
        "LD_PRELOAD=", "VELMORA_PRESENTS=", "ASAN_OPTIONS=", "LSAN_OPTIONS=",
    };
    std::vector<std::string> env;
    std::string asan_options, lsan_options;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (starts_with(entry, "ASAN_OPTIONS="))
            asan_options = entry.substr(std::strlen("ASAN_OPTIONS="));
        if (starts_with(entry, "LSAN_OPTIONS="))
            lsan_options = entry.substr(std::strlen("LSAN_OPTIONS=")) + ":";
        bool keep = true;
        for (const char* name : chosen_here)
            keep = keep && !starts_with(entry, name);
        if (keep)
            env.push_back(entry);
    }
    if (!options.display.empty())
        env.push_back("DISPLAY=" + options.display);
    if (!options.sdl_video_driver.empty())
        env.push_back("SDL_VIDEODRIVER=" + options.sdl_video_driver);
    // Both runtimes install a libSDL-1.2.so.0; the compatibility one lives in a
    // folder of its own, so the search path alone picks it.
    if (options.runtime == sdl_runtime::compat)
        env.push_back(std::string("LD_LIBRARY_PATH=") + SDL12_COMPAT_DIR);
    if (options.count_presents) {
        env.push_back(std::string("LD_PRELOAD=") + PRESENT_COUNTER_MODULE);
        env.push_back("VELMORA_PRESENTS=" + presents_path);
        // A sanitizer build insists on coming first; the counter only wraps calls.
        asan_options += (asan_options.empty() ? "" : ":") + std::string("verify_asan_link_order=0");
    }
    if (!asan_options.empty())
        env.push_back("ASAN_OPTIONS=" + asan_options);
    // A sanitizer build of the viewer looks for leaks at exit; SDL's and X's own
    // are suppressed by name. The SDL-2-based runtime unloads the libraries it
    // opened before that check, which leaves their leaks without a name to tell
    // them from ours: no leak check there (memcheck covers the classic runtime).
    lsan_options += std::string("print_suppressions=0:suppressions=") + LSAN_SUPPRESSIONS;
    if (options.runtime == sdl_runtime::compat)
        lsan_options += ":detect_leaks=0";
    env.push_back("LSAN_OPTIONS=" + lsan_options);
    return env;
}

std::vector<char*> c_strings(std::vector<std::string>& strings)
{
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Runs in the forked child: everything it needs is prepared before the fork.
[[noreturn]] void exec_viewer(const char* work, const char* out, const char* err, char** argv,
                              char** envp)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null_in = open("/dev/null", O_RDONLY);
    const int out_fd = open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (null_in < 0 || out_fd < 0 || err_fd < 0 || dup2(null_in, 0) < 0 || dup2(out_fd, 1) < 0 ||
        dup2(err_fd, 2) < 0 || chdir(work) != 0)
        _exit(126);
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

sdl_runtime runtime_under_test()
{
    const char* value = std::getenv("VELMORA_E2E_RUNTIME");
    return value != nullptr && std::strcmp(value, "compat") == 0 ? sdl_runtime::compat
                                                                 : sdl_runtime::classic;
}

const char* runtime_name(sdl_runtime runtime)
{
    return runtime == sdl_runtime::compat ? "compat" : "classic";
}

bool start_viewer(const std::string& folder, const std::string& work, const viewer_options& options,
                  viewer_process* viewer, std::string* why)
{
    viewer->out_path = folder + "/stdout";
    viewer->err_path = folder + "/stderr";
    viewer->presents_path = folder + "/presents";
    viewer->ended = false;

    if (!options.wrapper.empty() && options.wrapper[0].find('/') == std::string::npos) {
        *why = "the wrapper needs a full path: " + options.wrapper[0];
        return false;
    }
    std::vector<std::string> args = options.wrapper;
    args.push_back(VELMORA_BINARY);
    std::vector<std::string> env = viewer_environment(options, viewer->presents_path);
    std::vector<char*> argv = c_strings(args);
    std::vector<char*> envp = c_strings(env);

    const pid_t pid = fork();
    if (pid < 0) {
        *why = "fork() failed";
        return false;
    }
    if (pid == 0)
        exec_viewer(work.c_str(), viewer->out_path.c_str(), viewer->err_path.c_str(), argv.data(),
                    envp.data());
    viewer->pid = pid;
    return true;
}

bool viewer_ended(viewer_process* viewer)
{
    if (viewer->ended || viewer->pid <= 0)
        return true;
    int status = 0;
    if (waitpid(viewer->pid, &status, WNOHANG) != viewer->pid)
        return false;
    viewer->ended = true;
    viewer->wait_status = status;
    return true;
}

bool wait_viewer_end(viewer_process* viewer, double timeout_s)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (!viewer_ended(viewer)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void kill_viewer(viewer_process* viewer)
{
    if (viewer_ended(viewer))
        return;
    kill(viewer->pid, SIGKILL);
    int status = 0;
    waitpid(viewer->pid, &status, 0);
    viewer->ended = true;
    viewer->wait_status = status;
}

int exit_status(const viewer_process& viewer)
{
    if (!viewer.ended || !WIFEXITED(viewer.wait_status))
        return -1;
    return WEXITSTATUS(viewer.wait_status);
}

std::string describe_end(const viewer_process& viewer)
{
    if (!viewer.ended)
        return "still running";
    if (WIFEXITED(viewer.wait_status))
        return "exit status " + std::to_string(WEXITSTATUS(viewer.wait_status));
    if (WIFSIGNALED(viewer.wait_status))
        return std::string("killed by signal ") + strsignal(WTERMSIG(viewer.wait_status));
    return "ended oddly";
}

present_count read_presents(const viewer_process& viewer)
{
    present_count count;
    std::istringstream lines(read_file(viewer.presents_path));
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "loaded")
            count.counter_loaded = true;
        else if (line == "frame")
            ++count.frames;
    }
    return count;
}

std::string mapped_sdl_library(pid_t pid)
{
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const std::size_t path = line.find('/');
        if (path != std::string::npos && line.find("libSDL-1.2.so", path) != std::string::npos)
            return line.substr(path);
    }
    return {};
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string make_temp_folder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        return {};
    return pattern;
}

void remove_folder(const std::string& path)
{
    std::error_code ignored;
    if (!path.empty())
        std::filesystem::remove_all(path, ignored);
}
