// Preloaded into the encoder by tests/tools/encoder-window.sh. umask() sets the mask of the
// whole process, so a call while other threads run can leave a file that one of them creates
// at that moment open to everybody. This reports every such call on standard error.
#include <dirent.h>
#include <dlfcn.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
int threads()
{
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}
} // namespace

extern "C" mode_t umask(mode_t mask)
{
    static const auto real = reinterpret_cast<mode_t (*)(mode_t)>(dlsym(RTLD_NEXT, "umask"));
    if (const int running = threads(); running > 1) {
        const std::string line =
            "umask-guard: umask() called while " + std::to_string(running) + " threads run\n";
        (void)!write(STDERR_FILENO, line.data(), line.size());
    }
    return real(mask);
}
