// Runs a command and prints its wall time, its CPU time (user + system, its
// children included) in seconds and its peak resident memory in kilobytes,
// to the microsecond where /usr/bin/time gives hundredths:
//
//   plume-bench-measure COMMAND [ARGUMENT...]
//
// prints "WALL CPU PEAK_KB" on stdout; the command's own output goes to
// /dev/null. The exit status is the command's (1 when it could not run).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace {

double Seconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: plume-bench-measure COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const double start = Now();
    const pid_t child = fork();
    if (child < 0) return 1;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return 1;
    const double wall = Now() - start;
    std::printf("%.4f %.4f %ld\n", wall, Seconds(usage.ru_utime) + Seconds(usage.ru_stime),
                usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
