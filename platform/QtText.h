#pragma once

#include "Texts.h"

#include <QString>

/// A catalogue text in the process's language, for a Qt control.
inline QString qtText(text::Id id)
{
    return QString::fromUtf8(text::tr(id));
}
