#include "Translations.h"

#include "Texts.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstring>

namespace {

// The web view's context menu in Japanese, worded as Qt's own text box menu is. Qt 6.4 ships no
// Japanese catalogue for the web engine; this stands in only when none is installed. The
// catalogue's English twin of each entry is Qt's source text.
class WebViewMenuJapanese final : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                      int /*n*/) const override
    {
        if (std::strcmp(context, "RenderViewContextMenuQt") != 0) {
            return {};
        }
        for (const text::Id id : kMenu) {
            if (std::strcmp(sourceText, text::tr(id, text::Lang::English)) == 0) {
                return QString::fromUtf8(text::tr(id, text::Lang::Japanese));
            }
        }
        return {};
    }
    bool isEmpty() const override { return false; }

private:
    static constexpr text::Id kMenu[] = {
        text::Id::WebMenuBack,           text::Id::WebMenuForward,
        text::Id::WebMenuReload,         text::Id::WebMenuCut,
        text::Id::WebMenuCopy,           text::Id::WebMenuPaste,
        text::Id::WebMenuUndo,           text::Id::WebMenuRedo,
        text::Id::WebMenuSelectAll,      text::Id::WebMenuPastePlain,
        text::Id::WebMenuLinkWindow,     text::Id::WebMenuLinkTab,
        text::Id::WebMenuCopyLink,       text::Id::WebMenuSaveLink,
        text::Id::WebMenuCopyImage,      text::Id::WebMenuCopyImageAddress,
        text::Id::WebMenuSaveImage,      text::Id::WebMenuCopyMedia,
        text::Id::WebMenuShowControls,   text::Id::WebMenuLoop,
        text::Id::WebMenuSaveMedia,      text::Id::WebMenuInspect,
        text::Id::WebMenuExitFullScreen, text::Id::WebMenuSavePage,
        text::Id::WebMenuViewSource,
    };
};

bool load(QCoreApplication& app, const QString& catalogue, const QString& dir)
{
    auto* translator = new QTranslator(&app);
    if (!translator->load(catalogue, dir)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

} // namespace

void installQtTranslations(QCoreApplication& app)
{
    // In English Qt's own source texts are already the words wanted.
    if (text::language() != text::Lang::Japanese) {
        return;
    }
    const QString dir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!load(app, QStringLiteral("qtbase_ja"), dir)) {
        std::fprintf(stderr,
                     "torvane: Qt's Japanese translations (qtbase_ja) are not in %s: standard "
                     "buttons and menus stay English (package qt6-translations-l10n)\n",
                     qPrintable(QDir::toNativeSeparators(dir)));
    }
    if (!load(app, QStringLiteral("qtwebengine_ja"), dir)) {
        QCoreApplication::installTranslator(new WebViewMenuJapanese(&app));
    }
}
