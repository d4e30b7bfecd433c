#include "Host.h"

#include "HelperLink.h"
#include "Runner.h"
#include "StartTexts.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

namespace assign {

namespace {

void onStopSignal(int signal)
{
    g_stopSignal = signal;
}

} // namespace

std::unique_ptr<helper::Link> startLink(const Options& options, text::Twin& why)
{
    std::string path = options.helper;
    if (path.empty()) {
        path = helper::locateHelper(helper::executableDir());
    }
    auto link = std::make_unique<helper::HelperLink>();
    const helper::StartResult r = link->start(path);
    if (r.error == helper::StartError::None) {
        return link;
    }
    using text::Id;
    why = helper::startFailureText(r, {Id::AssignHelperMissing, Id::AssignNotInGroup,
                                       Id::AssignNoPrivilege, Id::AssignPortHeld,
                                       Id::AssignHelperFailed, Id::AssignHelperFailed});
    return nullptr;
}

void waitFor(const helper::Link& link, const std::vector<const HttpCheck*>& checks,
             std::chrono::milliseconds timeout)
{
    std::vector<pollfd> fds{{static_cast<int>(link.waitHandle()), POLLIN, 0}};
    for (const HttpCheck* check : checks) {
        if (check->fd() >= 0) {
            fds.push_back({check->fd(), check->events(), 0});
        }
    }
    ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
}

void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: poll must return at once
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

const char* stopName(int signal)
{
    return signal == SIGINT ? "SIGINT" : signal == SIGTERM ? "SIGTERM" : "a signal";
}

std::vector<std::string> programArguments(int argc, char** argv)
{
    return {argv + 1, argv + argc};
}

bool outputIsTerminal()
{
    return ::isatty(STDOUT_FILENO) == 1;
}

text::Lang desktopLanguage()
{
    return text::languageFromEnvironment();
}

bool pathExists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0 || errno != ENOENT;
}

} // namespace assign
