#include "StartTexts.h"

#include "AnswerTexts.h"
#include "HelperAccess.h"
#include "PortHolderText.h"

#include <cerrno>

namespace helper {

text::Twin startFailureText(const StartResult& r, const StartTexts& texts)
{
    using text::twin;
    text::Twin t;
    switch (r.error) {
    case StartError::None:
        return {};
    case StartError::Missing:
        return twin(texts.missing, {executableDir()});
    case StartError::NotInGroup: {
        const HelperAccess a = helperAccess(r.path);
        if (a.problem == HelperAccess::Problem::NotInGroup) {
            return twin(texts.notInGroup, {a.group, r.path});
        }
        return twin(text::Id::HelperBadAccess, {r.path, a.mode, a.owner, a.group});
    }
    case StartError::NoPrivilege:
        return twin(texts.noPrivilege, {r.path});
    case StartError::PortInUse:
        return twin(texts.portHeld, {udpPortHolderText(67)});
    case StartError::Died:
        t = twin(texts.didNotStart, {errnoText(EPIPE)});
        break;
    case StartError::Other:
        t = twin(texts.cannotStart, {errnoText(r.errnoValue)});
        break;
    }
    t.english += " (" + r.detail + ")";
    return t;
}

} // namespace helper
