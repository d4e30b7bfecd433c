#pragma once

#include "Link.h"

#include <chrono>
#include <deque>
#include <map>
#include <set>
#include <optional>
#include <string>
#include <sys/types.h>

// A front-end's end of torvane-helper: starts it for one search, passes commands and reads
// the card requests it passes on. Plain C++ so that every front-end can use it; the caller
// watches fd() for readability (poll, a QSocketNotifier) and then calls readRequest().
namespace helper {

/// Why the helper could not be started or could not bind port 67.
enum class StartError {
    None,
    Missing,     ///< no helper found beside the program or in its installed directory
    NotInGroup,  ///< the helper exists but this user may not run it (group torvane)
    NoPrivilege, ///< it runs but lacks cap_net_bind_service (port 67 refused)
    PortInUse,   ///< another program holds UDP port 67
    Died,        ///< it ended or did not answer before binding
    Other,       ///< anything else; errnoValue says what
};

struct StartResult {
    StartError error = StartError::None;
    int errnoValue = 0;
    std::string path;   ///< the helper that was tried
    std::string detail; ///< English, for stderr
};

/// Where a front-end whose executable lies in exeDir finds the helper: beside it (a build
/// tree), else in the installed directory relative to it (../libexec/torvane). Never a path
/// baked in at build time.
std::string locateHelper(const std::string& exeDir);
/// The directory of the running executable.
std::string executableDir();

class HelperLink final : public Link {
public:
    HelperLink() = default;
    ~HelperLink() override;
    HelperLink(const HelperLink&) = delete;
    HelperLink& operator=(const HelperLink&) = delete;

    /// Starts the helper at path and waits until it has bound port 67 (or failed to).
    StartResult start(const std::string& path,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5));
    bool running() const { return m_fd >= 0; }
    /// The descriptor to watch for readability; -1 when not running.
    int fd() const { return m_fd; }
    /// Process id of the helper (tests read its /proc status).
    pid_t pid() const { return m_pid; }
    /// How long a command waits for its answer (5 s; tests shorten it).
    void setAnswerTimeout(std::chrono::milliseconds timeout) { m_answerTimeout = timeout; }

    Answer listen() override;
    Answer pause() override;
    /// Sends the set in as many messages as it takes.
    Answer want(std::span<const Mac> macs) override;
    Answer reply(std::uint32_t id, const Bytes& datagram) override;
    Answer neighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac) override;
    /// Both messages at once, then both answers: one wait per card instead of two.
    std::pair<Answer, std::optional<Answer>> replyThenNeighbour(std::uint32_t id,
                                                                const Bytes& datagram,
                                                                const Ipv4& ip,
                                                                const Mac& mac) override;
    /// Every card's messages of a part at once, then their answers: one wait per part.
    std::vector<AssignmentAnswer> replyThenNeighbourAll(std::span<const Assignment> all) override;
    Answer temporary(std::uint32_t id, const Ipv4& address, std::uint32_t lifetime) override;
    Answer finish(std::uint32_t id) override;

    /// The next passed-on card request, without blocking; nullopt when none is waiting.
    /// Requests read while waiting for an answer are kept for this call, unless paused.
    std::optional<Request> readRequest() override;
    /// True once the helper has gone (end of file on the link, or a broken link).
    bool died() const override { return m_died; }
    std::uintptr_t waitHandle() const override { return static_cast<std::uintptr_t>(m_fd); }

    /// Ends the helper: closes the link (it exits on end of file), then reaps it, killing it
    /// if it lingers.
    void stop() override;

private:
    Answer command(const ToHelper& m);
    /// Hands a message over with a new serial: an ok answer, or why the link broke.
    Answer post(const ToHelper& m, std::uint32_t& serial);
    /// Hands messages over in one system call where it can; how many went (the link broke
    /// at the first that did not).
    std::size_t postAll(std::span<const Bytes> messages);
    std::uint32_t nextSerial();
    /// The answer that repeats serial, keeping requests that arrive meanwhile and skipping
    /// answers to earlier commands.
    Answer awaitAnswer(std::uint32_t serial);
    /// The answers that repeat serials, in their order, under one deadline; a serial of 0
    /// awaits nothing and stays empty.
    std::vector<std::optional<Answer>> awaitAnswers(std::span<const std::uint32_t> serials);
    std::optional<FromHelper> receive(int timeoutMs);

    int m_fd = -1;
    pid_t m_pid = -1;
    bool m_died = false;
    bool m_paused = true;
    std::deque<Request> m_pending;
    /// Serials of commands posted ahead of their turn, and the answers that came for them
    /// while an earlier part's were awaited.
    std::set<std::uint32_t> m_posted;
    std::map<std::uint32_t, Answer> m_early;
    std::uint32_t m_serial = 0; // of the last command sent
    std::chrono::milliseconds m_answerTimeout{5000};
};

} // namespace helper
