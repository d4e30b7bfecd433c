#pragma once

#include "Texts.h"

#include <QString>

#include <string>

// The catalogue's texts as the browser window's widgets take them.
namespace browsertext {

inline QString tr(text::Id id)
{
    return QString::fromUtf8(text::tr(id));
}

/// The text with %1 and %2 filled in.
inline QString format(text::Id id, const QString& first, const QString& second = {})
{
    const std::string a = first.toStdString();
    const std::string b = second.toStdString();
    return QString::fromStdString(text::format(id, {a, b}));
}

} // namespace browsertext
