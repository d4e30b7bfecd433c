// The windows have fixed sizes; every caption must fit its control in both languages, in the
// program's own fonts: no clipped label, button or check box, and each status text within the
// two lines of the status box.
#include "F_Config.h"
#include "F_Main.h"
#include "Fonts.h"
#include "PlainFakes.h"
#include "Texts.h"
#include "Translations.h"

#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(text::Lang)

namespace {

std::unique_ptr<F_Main> mainWindow()
{
    F_Main::Services s{std::make_unique<FakeDatagramSocket>(),
                       std::make_unique<FakeNeighbourTable>(), std::make_unique<FakeClock>(),
                       [](OsVersion&) {}, [] { return false; }};
    return std::make_unique<F_Main>(std::move(s));
}

// The width the caption needs inside the control, and the width it has.
struct Fit {
    int needed;
    int available;
};

Fit fitOf(QWidget* w)
{
    const QFontMetrics fm = w->fontMetrics();
    QStyle* style = w->style();
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        const int margin = style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
                           2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
        return {fm.horizontalAdvance(b->text()), b->width() - margin};
    }
    if (auto* c = qobject_cast<QCheckBox*>(w)) {
        const int indicator = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, c) +
                              style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, c);
        return {fm.horizontalAdvance(c->text()), c->width() - indicator};
    }
    auto* l = qobject_cast<QLabel*>(w);
    return {fm.horizontalAdvance(l->text()), l->contentsRect().width() - 2 * l->margin()};
}

void checkCaptions(QWidget* window)
{
    int checked = 0;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const bool captioned =
            (qobject_cast<QPushButton*>(w) != nullptr || qobject_cast<QCheckBox*>(w) != nullptr ||
             (qobject_cast<QLabel*>(w) != nullptr && !static_cast<QLabel*>(w)->text().isEmpty()));
        if (!captioned || w->isHidden()) {
            continue;
        }
        const Fit f = fitOf(w);
        QVERIFY2(f.needed <= f.available, qPrintable(QStringLiteral("%1 needs %2 px, has %3")
                                                         .arg(w->objectName())
                                                         .arg(f.needed)
                                                         .arg(f.available)));
        ++checked;
    }
    QVERIFY(checked > 0);
}

} // namespace

class CaptionsFitTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { installFonts(); }

    void standardButtonsFollowTheLanguage()
    {
        // In English no Japanese Qt catalogue is loaded, so Yes and No stay English.
        text::setLanguage(text::Lang::English);
        installQtTranslations(*QCoreApplication::instance());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("&Yes"));
        text::setLanguage(text::Lang::Japanese);
        installQtTranslations(*QCoreApplication::instance());
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), QStringLiteral("はい(&Y)"));
        QCOMPARE(QCoreApplication::translate("RenderViewContextMenuQt", "Copy"),
                 QStringLiteral("コピー"));
    }
    void cleanup() { text::setLanguage(text::Lang::Japanese); }

    void everyCaptionFits_data()
    {
        QTest::addColumn<text::Lang>("lang");
        QTest::newRow("Japanese") << text::Lang::Japanese;
        QTest::newRow("English") << text::Lang::English;
    }

    void everyCaptionFits()
    {
        QFETCH(text::Lang, lang);
        text::setLanguage(lang);
        const auto main = mainWindow();
        QCOMPARE(main->Command1->text(), QString::fromUtf8(text::tr(text::Id::MainStart)));
        checkCaptions(main.get());
        F_Config dialog(main.get());
        dialog.L_MacAddr->setText(QStringLiteral("00-0A-1B-C2-3D-FF"));
        QCOMPARE(dialog.windowTitle(), QString::fromUtf8(text::tr(text::Id::ConfigTitle)));
        checkCaptions(&dialog);
    }

    void everyStatusFitsTheTwoLinesOfTheBox_data() { everyCaptionFits_data(); }

    void everyStatusFitsTheTwoLinesOfTheBox()
    {
        QFETCH(text::Lang, lang);
        text::setLanguage(lang);
        const auto main = mainWindow();
        main->show();
        QPlainTextEdit* box = main->Text1;
        for (const text::Id id :
             {text::Id::StatusSearching, text::Id::StatusCardFound, text::Id::StatusSetting}) {
            box->setPlainText(QString::fromUtf8(text::tr(id)));
            QApplication::processEvents();
            // A plain text box's layout counts its size in lines.
            const qreal lines = box->document()->documentLayout()->documentSize().height();
            QVERIFY2(lines <= 2,
                     qPrintable(QStringLiteral("%1: %2 lines").arg(box->toPlainText()).arg(lines)));
        }
    }
};

QTEST_MAIN(CaptionsFitTest)
#include "CaptionsFitTest.moc"
