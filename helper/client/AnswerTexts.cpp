#include "AnswerTexts.h"

#include <cerrno>
#include <string>

namespace helper {

text::Id refusalTextId(Refusal r)
{
    switch (r) {
    case Refusal::Malformed:
        return text::Id::CauseMalformed;
    case Refusal::UnknownRequest:
        return text::Id::CauseUnknownRequest;
    case Refusal::AlreadyReplied:
        return text::Id::CauseAlreadyReplied;
    case Refusal::Expired:
        return text::Id::CauseExpired;
    case Refusal::ChangedBytes:
        return text::Id::CauseChangedBytes;
    case Refusal::BadAddress:
        return text::Id::CauseBadAddress;
    case Refusal::BadMask:
        return text::Id::CauseBadMask;
    case Refusal::BadGateway:
        return text::Id::CauseBadGateway;
    case Refusal::BadServer:
        return text::Id::CauseBadServer;
    case Refusal::Outstanding:
        return text::Id::CauseOutstanding;
    case Refusal::NotReplied:
        return text::Id::CauseNotReplied;
    case Refusal::Mismatch:
        return text::Id::CauseMismatch;
    case Refusal::LocalAddress:
        return text::Id::CauseLocalAddress;
    case Refusal::SubnetEdge:
        return text::Id::CauseSubnetEdge;
    case Refusal::GatewayAddress:
        return text::Id::CauseGatewayAddress;
    case Refusal::OtherMac:
        return text::Id::CauseOtherMac;
    case Refusal::BadMac:
        return text::Id::CauseBadMac;
    case Refusal::KernelQuery:
        return text::Id::CauseKernelQuery;
    case Refusal::InUse:
        return text::Id::CauseInUse;
    case Refusal::None:
        break;
    }
    return text::Id::CauseRefused;
}

text::Twin errnoText(int number)
{
    switch (number) {
    case EPERM:
    case EACCES:
        return text::twin(text::Id::CauseNoPermission);
    case ENODEV:
    case ENXIO:
        return text::twin(text::Id::CauseNoInterface);
    case EPIPE:
        return text::twin(text::Id::CauseHelperEnded);
    case ETIMEDOUT:
        return text::twin(text::Id::CauseHelperSilent);
    case ENETDOWN:
    case ENETUNREACH:
        return text::twin(text::Id::CauseNetworkDown);
    case ENOMEM:
        return text::twin(text::Id::CauseNoMemory);
    case EMFILE:
    case ENFILE:
        return text::twin(text::Id::CauseTooManyFiles);
    case ENOSYS:
        return text::twin(text::Id::CauseUnsupported);
    default:
        return text::twin(text::Id::CauseErrno, {std::to_string(number)});
    }
}

text::Twin answerText(const Answer& a)
{
    text::Twin cause = a.refused() ? text::twin(refusalTextId(a.refusal)) : errnoText(a.error);
    if (!a.reason.empty()) {
        cause.english += " (" + a.reason + ")";
    }
    return cause;
}

} // namespace helper
