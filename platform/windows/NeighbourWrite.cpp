#include "NeighbourWrite.h"

#include "Policy.h"

namespace winnet {

namespace {

NeighbourOutcome written()
{
    return {NeighbourOutcome::Kind::Written, helper::Refusal::None, {}};
}

NeighbourOutcome refused(helper::Refusal refusal, Failure failure = {})
{
    return {NeighbourOutcome::Kind::Refused, refusal, failure};
}

} // namespace

NeighbourOutcome addPermanentNeighbour(NeighbourSystem& system, unsigned long ifindex,
                                       const bootp::Ipv4& ip, const bootp::Mac& mac)
{
    // Before anything is read: a system that cannot write says so, whatever the entry.
    if (const char* call = system.missingCall()) {
        return {NeighbourOutcome::Kind::Unsupported,
                helper::Refusal::None,
                {call, NeighbourSystem::kMissingCall}};
    }
    const auto host = system.hostFacts();
    if (!host) {
        return refused(helper::Refusal::KernelQuery, host.failure());
    }
    if (const auto refusal = helper::checkEntry(ip, mac, *host)) {
        return refused(*refusal);
    }
    const auto before = system.entry(ifindex, ip);
    if (!before) {
        return refused(helper::Refusal::KernelQuery, before.failure());
    }
    if (before->hasMac && before->mac != mac) {
        return refused(helper::Refusal::OtherMac);
    }
    if (before->hasMac && before->permanent) {
        return written();
    }
    // Windows has no "create unless another MAC holds it" in one call: an entry without a MAC
    // or with this MAC is made permanent, none is created, and the entry read back afterwards
    // tells whether another MAC came in between.
    const auto write =
        before->present ? system.makePermanent(ifindex, ip, mac) : system.create(ifindex, ip, mac);
    if (!write && write.failure().code != NeighbourSystem::kAlreadyExists) {
        return {NeighbourOutcome::Kind::Failed, helper::Refusal::None, write.failure()};
    }
    const auto after = system.entry(ifindex, ip);
    if (!after) {
        return refused(helper::Refusal::KernelQuery, after.failure());
    }
    if (!after->hasMac || after->mac != mac || !after->permanent) {
        return refused(helper::Refusal::OtherMac);
    }
    return written();
}

} // namespace winnet
