// Start-up driver: time from process start until the program's first window is mapped, and
// the resident memory once it has settled, each the best of several runs under a private
// Xvfb. The programs need no cooperation: the driver watches the X server for the map and
// ends each program's process group itself.
//
//   startup_bench [--runs N] [--settle-ms MS] baseline program [program...]
//
// Every figure is also printed as a ratio to the first program of the same run.

#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMapTimeoutMs = 30000;

struct Sample {
    double startMs;
    long rssKb;
};

long rssKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

// Ends a process group we started: TERM, then KILL if it lingers.
void endGroup(pid_t pid)
{
    kill(-pid, SIGTERM);
    for (int i = 0; i < 40; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            kill(-pid, SIGKILL);
            return;
        }
        usleep(50000);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

class Xvfb {
public:
    Xvfb()
    {
        int fds[2];
        if (pipe(fds) != 0) {
            std::perror("pipe");
            std::exit(2);
        }
        m_pid = fork();
        if (m_pid == 0) {
            setpgid(0, 0);
            close(fds[0]);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
            std::perror("Xvfb");
            std::_Exit(127);
        }
        close(fds[1]);
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(fds[0]);
        if (number.empty()) {
            std::fprintf(stderr, "Xvfb did not start\n");
            std::exit(2);
        }
        m_display = ":" + number;
    }
    ~Xvfb() { endGroup(m_pid); }
    const std::string& display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

class MapWatcher {
public:
    explicit MapWatcher(const std::string& display)
    {
        m_conn = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(m_conn)) {
            std::fprintf(stderr, "cannot connect to %s\n", display.c_str());
            std::exit(2);
        }
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_conn, screen->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_conn);
    }
    ~MapWatcher() { xcb_disconnect(m_conn); }

    void drain()
    {
        while (xcb_generic_event_t* e = xcb_poll_for_event(m_conn)) {
            std::free(e);
        }
    }

    // Waits for a top-level window to be mapped; the time it arrived, if it did.
    std::optional<Clock::time_point> waitForMap(int timeoutMs)
    {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < deadline) {
            while (xcb_generic_event_t* e = xcb_poll_for_event(m_conn)) {
                const bool mapped =
                    (e->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                    !reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect;
                std::free(e);
                if (mapped) {
                    return Clock::now();
                }
            }
            pollfd pfd{xcb_get_file_descriptor(m_conn), POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            poll(&pfd, 1, static_cast<int>(std::max<long>(left.count(), 0)));
        }
        return std::nullopt;
    }

private:
    xcb_connection_t* m_conn;
};

std::optional<Sample> runOnce(const std::string& program, const std::string& display,
                              MapWatcher& watcher, int settleMs)
{
    watcher.drain();
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        setenv("DISPLAY", display.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        std::perror(program.c_str());
        std::_Exit(127);
    }
    setpgid(pid, pid);
    const auto mapped = watcher.waitForMap(kMapTimeoutMs);
    std::optional<Sample> sample;
    if (mapped) {
        usleep(settleMs * 1000);
        sample =
            Sample{std::chrono::duration<double, std::milli>(*mapped - start).count(), rssKb(pid)};
    } else {
        std::fprintf(stderr, "%s: no window within %d ms\n", program.c_str(), kMapTimeoutMs);
    }
    endGroup(pid);
    return sample;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 5;
    int settleMs = 1000;
    std::vector<std::string> programs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--settle-ms" && i + 1 < argc) {
            settleMs = std::atoi(argv[++i]);
        } else {
            programs.push_back(arg);
        }
    }
    if (programs.empty() || runs < 1) {
        std::fprintf(stderr, "usage: %s [--runs N] [--settle-ms MS] baseline [program...]\n",
                     argv[0]);
        return 2;
    }

    Xvfb xvfb;
    MapWatcher watcher(xvfb.display());
    std::printf("%-50s %10s %10s %10s %8s %8s\n", "program", "best ms", "median ms", "RSS MB",
                "t ratio", "RSS ratio");
    double baseMs = 0;
    double baseRss = 0;
    int failures = 0;
    // Runs are interleaved so that a noisy moment does not hit one program only.
    std::vector<std::vector<Sample>> samples(programs.size());
    for (int r = 0; r < runs; ++r) {
        for (size_t p = 0; p < programs.size(); ++p) {
            if (auto s = runOnce(programs[p], xvfb.display(), watcher, settleMs)) {
                samples[p].push_back(*s);
            } else {
                ++failures;
            }
        }
    }
    for (size_t p = 0; p < programs.size(); ++p) {
        std::vector<Sample>& s = samples[p];
        if (s.empty()) {
            std::printf("%-50s %10s\n", programs[p].c_str(), "failed");
            continue;
        }
        std::vector<double> ms;
        long bestRss = s.front().rssKb;
        for (const Sample& x : s) {
            ms.push_back(x.startMs);
            bestRss = std::min(bestRss, x.rssKb);
        }
        std::sort(ms.begin(), ms.end());
        const double rssMb = bestRss / 1024.0;
        if (p == 0) {
            baseMs = ms.front();
            baseRss = rssMb;
        }
        std::printf("%-50s %10.1f %10.1f %10.1f %8.2f %8.2f\n", programs[p].c_str(), ms.front(),
                    ms[ms.size() / 2], rssMb, ms.front() / baseMs, rssMb / baseRss);
    }
    return failures == 0 ? 0 : 1;
}
