#include "HelperLink.h"

#include <algorithm>
#include <deque>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace helper {

namespace {

constexpr const char* kHelperName = "torvane-helper";

bool executableFile(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

std::string executableDir()
{
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return ".";
    }
    std::string dir(path, static_cast<std::size_t>(n));
    return dir.substr(0, dir.rfind('/'));
}

std::string locateHelper(const std::string& exeDir)
{
    for (const std::string& path :
         {exeDir + "/" + kHelperName, exeDir + "/../libexec/torvane/" + kHelperName}) {
        if (executableFile(path)) {
            return path;
        }
    }
    return {};
}

HelperLink::~HelperLink()
{
    stop();
}

StartResult HelperLink::start(const std::string& path, std::chrono::milliseconds timeout)
{
    stop();
    StartResult result;
    result.path = path;
    if (path.empty() || !executableFile(path)) {
        result.error = StartError::Missing;
        result.detail = "torvane-helper was not found";
        return result;
    }
    if (::access(path.c_str(), X_OK) != 0) {
        result.errnoValue = errno;
        result.error = errno == EACCES ? StartError::NotInGroup : StartError::Other;
        result.detail = path + ": " + std::strerror(result.errnoValue);
        return result;
    }
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) {
        result.errnoValue = errno;
        result.error = StartError::Other;
        result.detail = std::string("socketpair: ") + std::strerror(errno);
        return result;
    }
    // The child's end must not already sit on the link descriptor: dup2 onto itself would
    // leave close-on-exec set.
    const int child = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kLinkFd + 1);
    ::close(pair[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, child, kLinkFd);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char* const argv[] = {const_cast<char*>(kHelperName), nullptr};
    char* const envp[] = {nullptr};
    const int err = ::posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    ::close(child);
    if (err != 0) {
        ::close(pair[0]);
        m_pid = -1;
        result.errnoValue = err;
        result.error = err == EACCES ? StartError::NotInGroup : StartError::Other;
        result.detail = path + ": " + std::strerror(err);
        return result;
    }
    m_fd = pair[0];
    m_died = false;
    m_paused = true;
    m_pending.clear();

    const std::optional<FromHelper> in = receive(static_cast<int>(timeout.count()));
    const Bound* bound = in ? std::get_if<Bound>(&*in) : nullptr;
    if (bound == nullptr) {
        result.error = StartError::Died;
        result.detail = "torvane-helper ended before it bound UDP port 67";
        stop();
        return result;
    }
    result.errnoValue = bound->error;
    if (bound->error != 0) {
        switch (bound->error) {
        case EADDRINUSE:
            result.error = StartError::PortInUse;
            break;
        case EACCES:
        case EPERM:
            result.error = StartError::NoPrivilege;
            break;
        default:
            result.error = StartError::Other;
            break;
        }
        result.detail = std::string("cannot bind UDP port 67: ") + std::strerror(bound->error);
        stop();
    }
    return result;
}

std::optional<FromHelper> HelperLink::receive(int timeoutMs)
{
    if (m_fd < 0) {
        return std::nullopt;
    }
    pollfd p{m_fd, POLLIN, 0};
    if (timeoutMs != 0) {
        int n;
        do {
            n = ::poll(&p, 1, timeoutMs);
        } while (n < 0 && errno == EINTR);
        if (n <= 0) {
            return std::nullopt;
        }
    }
    std::uint8_t buffer[kMaxMessage + 1];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        m_died = true;
        ::close(m_fd);
        m_fd = -1;
        return std::nullopt;
    }
    if (n < 0) {
        return std::nullopt;
    }
    return decodeFromHelper(std::span(buffer, static_cast<std::size_t>(n)));
}

Answer HelperLink::post(const ToHelper& m, std::uint32_t& serial)
{
    if (m_fd < 0) {
        return {EPIPE, Refusal::None, "torvane-helper is not running"};
    }
    serial = nextSerial();
    const Bytes data = encode(Command{serial, m});
    if (::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size())) {
        m_died = true;
        return {EPIPE, Refusal::None, "torvane-helper has ended"};
    }
    return {};
}

std::uint32_t HelperLink::nextSerial()
{
    // Never 0, which a malformed message's refusal may carry.
    m_serial = m_serial == UINT32_MAX ? 1 : m_serial + 1;
    return m_serial;
}

std::size_t HelperLink::postAll(std::span<const Bytes> messages)
{
    if (m_fd < 0) {
        return 0;
    }
    std::vector<iovec> iov(messages.size());
    std::vector<mmsghdr> msgs(messages.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        iov[i] = {const_cast<std::uint8_t*>(messages[i].data()), messages[i].size()};
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
    }
    std::size_t sent = 0;
    while (sent < messages.size()) {
        const int n = ::sendmmsg(m_fd, msgs.data() + sent,
                                 static_cast<unsigned>(messages.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            m_died = true;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (msgs[sent + i].msg_len != messages[sent + i].size()) {
                m_died = true;
                return sent + i;
            }
        }
        sent += static_cast<std::size_t>(n);
    }
    return sent;
}

Answer HelperLink::awaitAnswer(std::uint32_t serial)
{
    const std::uint32_t serials[] = {serial};
    return std::move(*awaitAnswers(serials).front());
}

std::vector<std::optional<Answer>> HelperLink::awaitAnswers(std::span<const std::uint32_t> serials)
{
    std::vector<std::optional<Answer>> got(serials.size());
    auto left = static_cast<std::size_t>(
        std::count_if(serials.begin(), serials.end(), [](std::uint32_t s) { return s != 0; }));
    const auto missing = [&](const Answer& why) {
        for (std::size_t i = 0; i < serials.size(); ++i) {
            if (serials[i] != 0 && !got[i]) {
                got[i] = why;
            }
        }
    };
    // Answers that came while an earlier part's were awaited.
    for (std::size_t i = 0; i < serials.size(); ++i) {
        if (const auto early = m_early.find(serials[i]); serials[i] != 0 && early != m_early.end()) {
            got[i] = std::move(early->second);
            m_early.erase(early);
            --left;
        }
    }
    // One deadline for all the answers, however many requests arrive meanwhile.
    const auto deadline = std::chrono::steady_clock::now() + m_answerTimeout;
    while (left > 0) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        std::optional<FromHelper> in =
            wait.count() > 0 ? receive(static_cast<int>(wait.count())) : std::nullopt;
        if (m_fd < 0) {
            missing({EPIPE, Refusal::None, "torvane-helper has ended"});
            break;
        }
        if (!in) {
            if (std::chrono::steady_clock::now() < deadline) {
                continue; // a datagram that was not a message, or a signal: wait on
            }
            missing({ETIMEDOUT, Refusal::None, "torvane-helper did not answer"});
            break;
        }
        if (auto* answer = std::get_if<Answer>(&*in)) {
            // The answer to an earlier command that gave up waiting belongs to none now.
            const auto it = std::find(serials.begin(), serials.end(), answer->serial);
            if (answer->serial != 0 && it != serials.end() && !got[it - serials.begin()]) {
                got[it - serials.begin()] = std::move(*answer);
                --left;
            } else if (m_posted.contains(answer->serial)) {
                // A later part's, posted and not yet awaited: kept for its turn.
                m_early[answer->serial] = std::move(*answer);
            }
            continue;
        }
        if (auto* request = std::get_if<Request>(&*in); request != nullptr && !m_paused) {
            m_pending.push_back(std::move(*request));
        }
    }
    // Awaited now, or given up: an answer that comes later belongs to none.
    for (const std::uint32_t serial : serials) {
        m_posted.erase(serial);
        m_early.erase(serial);
    }
    return got;
}

Answer HelperLink::command(const ToHelper& m)
{
    std::uint32_t serial = 0;
    if (Answer a = post(m, serial); !a.ok()) {
        return a;
    }
    return awaitAnswer(serial);
}

Answer HelperLink::listen()
{
    const Answer a = command(Listen{});
    m_paused = !a.ok();
    return a;
}

Answer HelperLink::want(std::span<const Mac> macs)
{
    if (macs.size() > kMaxWanted) {
        return {0, Refusal::Malformed, {}};
    }
    for (std::size_t at = 0; at < macs.size(); at += kWantedPerMessage) {
        const auto part = macs.subspan(at, std::min(kWantedPerMessage, macs.size() - at));
        if (Answer a = command(Want{{part.begin(), part.end()}}); !a.ok()) {
            return a;
        }
    }
    return {};
}

Answer HelperLink::pause()
{
    m_paused = true;
    m_pending.clear();
    return command(Pause{});
}

Answer HelperLink::reply(std::uint32_t id, const Bytes& datagram)
{
    return command(Reply{id, datagram});
}

Answer HelperLink::neighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac)
{
    return command(Neighbour{id, ip, mac});
}

std::pair<Answer, std::optional<Answer>> HelperLink::replyThenNeighbour(std::uint32_t id,
                                                                        const Bytes& datagram,
                                                                        const Ipv4& ip,
                                                                        const Mac& mac)
{
    const Assignment one{id, datagram, ip, mac};
    return std::move(replyThenNeighbourAll(std::span(&one, 1)).front());
}

std::vector<AssignmentAnswer> HelperLink::replyThenNeighbourAll(std::span<const Assignment> all)
{
    // In parts, so that what waits unread on the link stays well within its buffer while the
    // helper's answers and requests come the other way: three parts at most, about 150 KB as
    // the kernel counts it, below the link's 208 KB send buffer, so that posting never blocks.
    // The helper answers a part's replies as soon as it has read the part and sent them, its
    // entries once its writer has made them: the next part is posted on the replies' answers,
    // so that no card's reply waits for another card's entry.
    constexpr std::size_t kPerPart = 32;
    constexpr std::size_t kPartsUnread = 3;
    struct Part {
        std::size_t at = 0;
        std::size_t size = 0;
        std::vector<std::uint32_t> serials;
        std::vector<Answer> posted;
        std::vector<std::optional<Answer>> got;
    };
    const auto post = [&](std::size_t at) {
        Part p;
        p.at = at;
        p.size = std::min(kPerPart, all.size() - at);
        // Reply and entry of card i have the serials 2i and 2i + 1, 0 where nothing went. All
        // go in one system call, so that the helper finds them queued together.
        p.serials.assign(2 * p.size, 0);
        std::vector<Bytes> messages;
        messages.reserve(p.serials.size());
        for (std::size_t i = 0; i < p.size; ++i) {
            const Assignment& a = all[at + i];
            p.serials[2 * i] = nextSerial();
            messages.push_back(encode(Command{p.serials[2 * i], Reply{a.id, a.datagram}}));
            p.serials[2 * i + 1] = nextSerial();
            messages.push_back(encode(Command{p.serials[2 * i + 1], Neighbour{a.id, a.ip, a.mac}}));
        }
        const std::size_t went = postAll(messages);
        m_posted.insert(p.serials.begin(), p.serials.begin() + static_cast<std::ptrdiff_t>(went));
        p.posted.resize(p.serials.size());
        p.got.resize(p.serials.size());
        for (std::size_t j = went; j < p.serials.size(); ++j) {
            p.serials[j] = 0;
            p.posted[j] = {EPIPE, Refusal::None, "torvane-helper has ended"};
        }
        return p;
    };
    // Waits for the part's answers to the serials that pick takes and it does not have yet.
    const auto await = [&](Part& p, auto pick) {
        std::vector<std::uint32_t> serials(p.serials.size(), 0);
        for (std::size_t j = 0; j < serials.size(); ++j) {
            if (pick(j) && !p.got[j]) {
                serials[j] = p.serials[j];
            }
        }
        std::vector<std::optional<Answer>> got = awaitAnswers(serials);
        for (std::size_t j = 0; j < serials.size(); ++j) {
            if (serials[j] != 0) {
                p.got[j] = std::move(got[j]);
            }
        }
    };
    std::vector<AssignmentAnswer> answers;
    answers.reserve(all.size());
    std::deque<Part> parts;
    std::size_t unread = 0; // the parts at the back whose replies are not all answered
    std::size_t at = 0;
    while (at < all.size() || !parts.empty()) {
        while (at < all.size() && unread < kPartsUnread) {
            parts.push_back(post(at));
            at += parts.back().size;
            ++unread;
        }
        if (at < all.size()) {
            await(parts[parts.size() - unread], [](std::size_t j) { return j % 2 == 0; });
            --unread;
            continue;
        }
        Part& waiting = parts.front();
        await(waiting, [](std::size_t) { return true; });
        unread = std::min(unread, parts.size() - 1);
        // The helper takes an entry only after its reply: one that did not go out leaves the
        // entry refused (NotReplied), an answer that belongs to no one.
        std::vector<Answer>& posted = waiting.posted;
        std::vector<std::optional<Answer>>& got = waiting.got;
        for (std::size_t i = 0; i < waiting.size; ++i) {
            if (!posted[2 * i].ok()) {
                answers.emplace_back(std::move(posted[2 * i]), std::nullopt);
            } else if (!got[2 * i]->ok()) {
                // The helper refused the entry too (NotReplied); that answer says nothing.
                answers.emplace_back(std::move(*got[2 * i]), std::nullopt);
            } else if (!posted[2 * i + 1].ok()) {
                answers.emplace_back(std::move(*got[2 * i]), std::move(posted[2 * i + 1]));
            } else {
                answers.emplace_back(std::move(*got[2 * i]), std::move(got[2 * i + 1]));
            }
        }
        parts.pop_front();
    }
    return answers;
}

Answer HelperLink::temporary(std::uint32_t id, const Ipv4& address, std::uint32_t lifetime)
{
    return command(Temporary{id, address, lifetime});
}

Answer HelperLink::finish(std::uint32_t id)
{
    return command(Finish{id});
}

std::optional<Request> HelperLink::readRequest()
{
    while (m_pending.empty()) {
        std::optional<FromHelper> in = receive(0);
        if (!in) {
            return std::nullopt;
        }
        // Requests still in flight from before a pause belong to no search any more.
        if (auto* request = std::get_if<Request>(&*in); request != nullptr && !m_paused) {
            m_pending.push_back(std::move(*request));
        }
    }
    Request r = std::move(m_pending.front());
    m_pending.pop_front();
    return r;
}

void HelperLink::stop()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_pid > 0) {
        // The helper exits as soon as it sees the link close; give it a moment, no more.
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(m_pid, nullptr, WNOHANG) != 0) {
                m_pid = -1;
                return;
            }
            ::usleep(2000);
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

} // namespace helper
