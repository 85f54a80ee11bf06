#pragma once
// Measuring helpers shared by the benchmarks: each measurement runs in a
// child process, so its peak memory comes from the kernel, and the parent
// keeps medians.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

struct Sample {
    double seconds;
    long peakKiB;
};

inline Sample Measure(const std::function<bool()>& work)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = work();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (write(fds[1], &s, sizeof s) != sizeof s)
            _exit(3);
        _exit(ok ? 0 : 2);
    }
    close(fds[1]);
    double s = -1;
    if (read(fds[0], &s, sizeof s) != sizeof s)
        s = -1;
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || s < 0) {
        std::fprintf(stderr, "measurement failed\n");
        std::exit(1);
    }
    return {s, usage.ru_maxrss};
}

template <class T>
T Median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace bench
