#include "Fonts.h"

#include <QApplication>
#include <QFont>

void installFonts()
{
    // fontconfig maps these to DejaVu Sans, which has no Japanese glyphs and is no serif.
    QFont::insertSubstitutions(QStringLiteral("ＭＳ ゴシック"),
                               {QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic")});
    QFont::insertSubstitutions(QStringLiteral("MS Gothic"),
                               {QStringLiteral("IPAGothic"), QStringLiteral("IPAPGothic")});
    QFont::insertSubstitutions(QStringLiteral("Century"),
                               {QStringLiteral("C059"), QStringLiteral("Century Schoolbook L")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo")});
    QFont ui(QStringLiteral("IPAPGothic"));
    ui.setPointSize(9);
    QApplication::setFont(ui);
}
