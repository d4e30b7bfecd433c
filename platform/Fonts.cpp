#include "Fonts.h"

#include <QApplication>
#include <QFont>

#include <dlfcn.h>

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

FontWarmUp::FontWarmUp()
    : m_thread([] {
          // fontconfig is loaded with Qt's GUI library and initialises itself once, safely
          // across threads; Qt's own call later finds it done. Looked up at run time, so the
          // build needs no fontconfig headers and a platform without it merely skips this.
          using Init = int (*)();
          if (auto init = reinterpret_cast<Init>(::dlsym(RTLD_DEFAULT, "FcInit"))) {
              init();
          }
      })
{
}

FontWarmUp::~FontWarmUp()
{
    wait();
}

void FontWarmUp::wait()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}
