// Latency from a card's request leaving the card to the settings dialog being shown, while
// another program floods port 67 with foreign DHCP traffic; whether the animation keeps its
// 200 ms ticks meanwhile; and the CPU time that the window and torvane-helper together spend
// on 10 s of searching under that flood. Runs in the "pc" test namespace (run.sh); a child process
// in the "card" namespace sends each card request and reports when it left.
#include "CardRequest.h"
#include "F_Config.h"
#include "F_Main.h"
#include "linux/HelperPort.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

double monotonicMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// The card: enters the card namespace and, for each byte read from `go`, broadcasts one card
// request on tvcard0 and writes back the moment it left.
[[noreturn]] void cardProcess(const char* ns, int go, int done)
{
    const std::string path = std::string("/run/netns/") + ns;
    const int nsfd = ::open(path.c_str(), O_RDONLY);
    if (nsfd < 0 || ::setns(nsfd, CLONE_NEWNET) != 0) {
        std::perror("setns");
        _exit(1);
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_BINDTODEVICE, "tvcard0", 7);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_port = htons(68);
    ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(67);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    const auto request = testing_support::cardRequest();
    char c;
    while (::read(go, &c, 1) == 1) {
        const double sent = monotonicMs();
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to),
                 sizeof to);
        ::write(done, &sent, sizeof sent);
    }
    _exit(0);
}

// CPU seconds (user + system) of this process and of the helper.
double cpuSeconds(long long helperPid)
{
    rusage self{};
    ::getrusage(RUSAGE_SELF, &self);
    double total = double(self.ru_utime.tv_sec + self.ru_stime.tv_sec) +
                   double(self.ru_utime.tv_usec + self.ru_stime.tv_usec) / 1e6;
    std::ifstream stat("/proc/" + std::to_string(helperPid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields 14 and 15 (utime, stime) follow the command name in parentheses.
    const auto close = line.rfind(')');
    if (close != std::string::npos) {
        std::istringstream rest(line.substr(close + 2));
        std::string field;
        long long utime = 0;
        long long stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14) {
                utime = std::stoll(field);
            } else if (i == 15) {
                stime = std::stoll(field);
            }
        }
        total += double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
    }
    return total;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p / 100.0 * double(v.size())))];
}

// Notes the moment each settings dialog is shown, then cancels it.
class DialogWatch : public QObject {
public:
    double shownAt = 0;
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show) {
            if (auto* d = qobject_cast<F_Config*>(o)) {
                shownAt = monotonicMs();
                QTimer::singleShot(0, d, [d] { d->Command1->click(); });
            }
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: flood_bench CARD_NETNS SAMPLES\n");
        return 2;
    }
    int go[2], done[2];
    if (::pipe(go) != 0 || ::pipe(done) != 0) {
        return 1;
    }
    if (::fork() == 0) {
        ::close(go[1]);
        ::close(done[0]);
        cardProcess(argv[1], go[0], done[1]);
    }
    ::close(go[0]);
    ::close(done[1]);
    const int samples = std::atoi(argv[2]);

    QApplication app(argc, argv);
    DialogWatch watch;
    app.installEventFilter(&watch);
    F_Main window;
    window.show();
    std::vector<double> ticks;
    QObject::connect(window.Timer1, &QTimer::timeout, &window,
                     [&ticks] { ticks.push_back(monotonicMs()); });
    window.Command1->click();
    const long long helperPid = ::helperPid(*window.Winsock1);

    // Searching with no card for 10 s: what the flood alone costs.
    const double cpuStart = cpuSeconds(helperPid);
    QElapsedTimer idle;
    idle.start();
    QEventLoop searching;
    QTimer::singleShot(10000, &searching, &QEventLoop::quit);
    searching.exec();
    const double cpuPercent =
        (cpuSeconds(helperPid) - cpuStart) / (double(idle.elapsed()) / 1000.0) * 100.0;

    std::vector<double> latencies;
    int missed = 0; // requests lost before the dialog, e.g. to a full receive queue
    for (int i = 0; i < samples; ++i) {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 250) {
            app.processEvents(QEventLoop::AllEvents, 10);
        }
        watch.shownAt = 0;
        double sent = 0;
        ::write(go[1], "x", 1);
        ::read(done[0], &sent, sizeof sent);
        QElapsedTimer wait;
        wait.start();
        while (watch.shownAt == 0 && wait.elapsed() < 3000) {
            app.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
        }
        if (watch.shownAt == 0) {
            ++missed;
        } else {
            latencies.push_back(watch.shownAt - sent);
        }
    }
    if (latencies.empty()) {
        latencies.push_back(0);
    }
    std::vector<double> intervals;
    for (std::size_t i = 1; i < ticks.size(); ++i) {
        intervals.push_back(ticks[i] - ticks[i - 1]);
    }
    std::printf(
        "latency_ms p50=%.2f p99=%.2f max=%.2f samples=%d missed=%d ticks=%zu tick_ms p50=%.1f "
        "max=%.1f cpu_percent=%.2f\n",
        percentile(latencies, 50), percentile(latencies, 99),
        *std::max_element(latencies.begin(), latencies.end()), samples, missed, ticks.size(),
        intervals.empty() ? 0.0 : percentile(intervals, 50),
        intervals.empty() ? 0.0 : *std::max_element(intervals.begin(), intervals.end()),
        cpuPercent);
    ::close(go[1]);
    window.Command2->click();
    return 0;
}
