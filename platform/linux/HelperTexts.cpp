#include "HelperTexts.h"

#include "HelperAccess.h"
#include "NetInfo.h"

#include <cerrno>

using helper::Refusal;
using text::Id;
using text::twin;

text::Twin startFailureText(const helper::StartResult& r)
{
    switch (r.error) {
    case helper::StartError::None:
        return {};
    case helper::StartError::Missing:
        return twin(Id::HelperMissing);
    case helper::StartError::NotInGroup: {
        const HelperAccess a = helperAccess(r.path);
        if (a.problem == HelperAccess::Problem::NotInGroup) {
            return twin(Id::HelperNotInGroup, {a.group});
        }
        return twin(Id::HelperBadAccess, {r.path, a.mode, a.owner, a.group});
    }
    case helper::StartError::NoPrivilege:
        return twin(Id::HelperNoPrivilege, {r.path});
    case helper::StartError::PortInUse: {
        const PortHolder h = udpPortHolder(67);
        text::Twin who;
        if (!h.program.isEmpty()) {
            who = twin(Id::PortHolderProgram, {h.program.toStdString(), std::to_string(h.pid)});
        } else if (!h.user.isEmpty()) {
            who = twin(Id::PortHolderUser, {h.user.toStdString()});
        } else {
            who = twin(Id::PortHolderUnknown);
        }
        return twin(Id::HelperPortInUse, {who});
    }
    case helper::StartError::Died:
        break;
    case helper::StartError::Other: {
        text::Twin t = twin(Id::HelperCannotStart, {errnoText(r.errnoValue)});
        t.english += " (" + r.detail + ")";
        return t;
    }
    }
    text::Twin t = twin(Id::HelperDidNotStart);
    t.english += " (" + r.detail + ")";
    return t;
}

text::Id refusalTextId(Refusal r)
{
    switch (r) {
    case Refusal::Malformed:
        return Id::CauseMalformed;
    case Refusal::UnknownRequest:
        return Id::CauseUnknownRequest;
    case Refusal::AlreadyReplied:
        return Id::CauseAlreadyReplied;
    case Refusal::Expired:
        return Id::CauseExpired;
    case Refusal::ChangedBytes:
        return Id::CauseChangedBytes;
    case Refusal::BadAddress:
        return Id::CauseBadAddress;
    case Refusal::BadMask:
        return Id::CauseBadMask;
    case Refusal::BadGateway:
        return Id::CauseBadGateway;
    case Refusal::BadServer:
        return Id::CauseBadServer;
    case Refusal::Outstanding:
        return Id::CauseOutstanding;
    case Refusal::NotReplied:
        return Id::CauseNotReplied;
    case Refusal::Mismatch:
        return Id::CauseMismatch;
    case Refusal::LocalAddress:
        return Id::CauseLocalAddress;
    case Refusal::SubnetEdge:
        return Id::CauseSubnetEdge;
    case Refusal::GatewayAddress:
        return Id::CauseGatewayAddress;
    case Refusal::OtherMac:
        return Id::CauseOtherMac;
    case Refusal::BadMac:
        return Id::CauseBadMac;
    case Refusal::KernelQuery:
        return Id::CauseKernelQuery;
    case Refusal::None:
        break;
    }
    return Id::CauseRefused;
}

text::Twin errnoText(int number)
{
    switch (number) {
    case EPERM:
    case EACCES:
        return twin(Id::CauseNoPermission);
    case ENODEV:
    case ENXIO:
        return twin(Id::CauseNoInterface);
    case EPIPE:
        return twin(Id::CauseHelperEnded);
    case ETIMEDOUT:
        return twin(Id::CauseHelperSilent);
    case ENETDOWN:
    case ENETUNREACH:
        return twin(Id::CauseNetworkDown);
    case ENOMEM:
        return twin(Id::CauseNoMemory);
    case EMFILE:
    case ENFILE:
        return twin(Id::CauseTooManyFiles);
    default:
        return twin(Id::CauseErrno, {std::to_string(number)});
    }
}

text::Twin commandFailureText(const helper::Answer& a)
{
    text::Twin cause =
        a.refused() ? twin(refusalTextId(a.refusal)) : errnoText(a.error);
    if (!a.reason.empty()) {
        cause.english += " (" + a.reason + ")";
    }
    return cause;
}
