#pragma once

#include "AnswerTexts.h"
#include "Protocol.h"

#include <cerrno>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

// What a front-end asks of whoever holds the card port: torvane-helper on Linux, the program
// itself on Windows. Both answer in the helper's terms and run the same checks.
namespace helper {

/// One card's reply and neighbour entry, as replyThenNeighbourAll takes them.
struct Assignment {
    std::uint32_t id = 0;
    Bytes datagram;
    Ipv4 ip{};
    Mac mac{};
};

/// The reply's answer, and the entry's when the reply went out.
using AssignmentAnswer = std::pair<Answer, std::optional<Answer>>;

class Link {
public:
    virtual ~Link() = default;

    /// Pass card requests on from now on / no longer (what arrived meanwhile is dropped).
    virtual Answer listen() = 0;
    virtual Answer pause() = 0;
    /// Names the cards this search is for (at most kMaxWanted); the others' requests are
    /// dropped before they are kept or passed on. A search that names none wants every card.
    virtual Answer want(std::span<const Mac> macs) = 0;
    /// Broadcasts the reply to request id out of the interface the request came in on.
    virtual Answer reply(std::uint32_t id, const Bytes& datagram) = 0;
    /// Makes the card's neighbour entry permanent, once its reply has gone out.
    virtual Answer neighbour(std::uint32_t id, const Ipv4& ip, const Mac& mac) = 0;
    /// reply(), then neighbour() if the reply went out: the answers of both (the second
    /// only then). A link may hand both over at once, as the holder takes them in order.
    virtual std::pair<Answer, std::optional<Answer>>
    replyThenNeighbour(std::uint32_t id, const Bytes& datagram, const Ipv4& ip, const Mac& mac)
    {
        Answer sent = reply(id, datagram);
        if (!sent.ok()) {
            return {std::move(sent), std::nullopt};
        }
        return {std::move(sent), neighbour(id, ip, mac)};
    }
    /// replyThenNeighbour() for each card in order, the answers in the same order. A link may
    /// hand them all over at once, as the holder takes them in order.
    virtual std::vector<AssignmentAnswer> replyThenNeighbourAll(std::span<const Assignment> all)
    {
        std::vector<AssignmentAnswer> answers;
        answers.reserve(all.size());
        for (const Assignment& a : all) {
            answers.push_back(replyThenNeighbour(a.id, a.datagram, a.ip, a.mac));
        }
        return answers;
    }

    /// Gives the arrival interface the temporary address to reach the card of the reply just
    /// sent (Temporary); a holder of the port that cannot do it refuses.
    virtual Answer temporary(std::uint32_t /*id*/, const Ipv4& /*address*/,
                             std::uint32_t /*lifetime*/)
    {
        return {EOPNOTSUPP, Refusal::None, "not supported here"};
    }
    /// Ends the assignment of request id without a neighbour entry, once its reply has gone
    /// out: until then the next card's reply is refused as Outstanding.
    virtual Answer finish(std::uint32_t id) = 0;

    /// The next passed-on card request, without blocking; nullopt when none is waiting.
    virtual std::optional<Request> readRequest() = 0;
    /// True once the holder of the port has gone; the link is then of no more use.
    virtual bool died() const = 0;
    /// What to wait on for readRequest: a descriptor on Linux, a SOCKET on Windows.
    virtual std::uintptr_t waitHandle() const = 0;
    /// Lets the port go.
    virtual void stop() = 0;

    /// An answer of this link in the operator's words (and English).
    virtual text::Twin words(const Answer& answer) const { return answerText(answer); }
};

} // namespace helper
