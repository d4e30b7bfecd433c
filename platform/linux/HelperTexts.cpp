#include "HelperTexts.h"

#include "HelperAccess.h"
#include "PortHolderText.h"

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
    case helper::StartError::PortInUse:
        return twin(Id::HelperPortInUse, {udpPortHolderText(67)});
    case helper::StartError::Died:
        break;
    case helper::StartError::Other: {
        text::Twin t = twin(Id::HelperCannotStart, {helper::errnoText(r.errnoValue)});
        t.english += " (" + r.detail + ")";
        return t;
    }
    }
    text::Twin t = twin(Id::HelperDidNotStart);
    t.english += " (" + r.detail + ")";
    return t;
}

text::Twin commandFailureText(const helper::Answer& a)
{
    return helper::answerText(a);
}
