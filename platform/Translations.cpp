#include "Translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// The web view's context menu in Japanese, worded as Qt's own text box menu is. Qt 6.4 ships no
// Japanese catalogue for the web engine; this stands in only when none is installed.
class WebViewMenuJapanese final : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                      int /*n*/) const override
    {
        if (std::strcmp(context, "RenderViewContextMenuQt") != 0) {
            return {};
        }
        for (const auto& [english, japanese] : kTexts) {
            if (std::strcmp(sourceText, english) == 0) {
                return QString::fromUtf8(japanese);
            }
        }
        return {};
    }
    bool isEmpty() const override { return false; }

private:
    static constexpr std::pair<const char*, const char*> kTexts[] = {
        {"Back", "戻る"},
        {"Forward", "進む"},
        {"Reload", "再読み込み"},
        {"Cut", "切り取り"},
        {"Copy", "コピー"},
        {"Paste", "貼り付け"},
        {"Undo", "元に戻す"},
        {"Redo", "やり直す"},
        {"Select all", "すべてを選択"},
        {"Paste and match style", "書式なしで貼り付け"},
        {"Open link in new window", "リンクを新しいウィンドウで開く"},
        {"Open link in new tab", "リンクを新しいタブで開く"},
        {"Copy link address", "リンクのアドレスをコピー"},
        {"Save link", "リンク先を保存"},
        {"Copy image", "画像をコピー"},
        {"Copy image address", "画像のアドレスをコピー"},
        {"Save image", "画像を保存"},
        {"Copy media address", "メディアのアドレスをコピー"},
        {"Show controls", "コントロールを表示"},
        {"Loop", "ループ再生"},
        {"Save media", "メディアを保存"},
        {"Inspect", "検証"},
        {"Exit full screen", "全画面表示を終了"},
        {"Save page", "ページを保存"},
        {"View page source", "ページのソースを表示"},
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
