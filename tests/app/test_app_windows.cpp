// The three windows (and the mailbox's dialog) as a keyboard and a screen meet them: Tab gets
// everywhere, the focus shows, the windows fit the screen the test runs on
// (tests/app/CMakeLists.txt runs this under several scalings and sizes).

#include "AppTestSupport.h"

#include "app/HeraldF.h"
#include "app/MakeKshF.h"
#include "app/Ordergate.h"
#include "app/mailer/EmailForm.h"
#include "app/mailer/MailboxDialog.h"
#include "app/mailer/PreviewDialog.h"
#include "platform/Contrast.h"
#include "platform/KeyboardAccess.h"
#include "tests/support/ScriptedPlatform.h"

#include <QAbstractButton>
#include <QFocusFrame>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QScrollArea>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>

#include <cmath>

using namespace og;
using namespace og::test;

namespace {

struct Start {
    QTemporaryDir folder;
    QTemporaryDir work;
    ScriptedPlatform platform;
    std::unique_ptr<Ordergate> program;

    Start()
    {
        QDir::setCurrent(work.path());
        platform.setFailureHandler([](const QString&) {}); // dialogs the keyboard opens are cancelled
        program = std::make_unique<Ordergate>(platform);
        program->Form1().setProgramFolder(slashed(folder));
        program->emailForm().SettingsPath = slashed(folder) + QLatin1String("ordergate.ini");
        program->emailForm().ProgramFolder = slashed(folder);
        platform.setClipboardText(swregLine("5001", "Tool", "a@example.com"));
        program->showMainWindow();
        program->Form1().FormActivate();
    }
    ~Start() { QDir::setCurrent(QDir::tempPath()); }

    // Shows the window as its button would (without its modal loop).
    QWidget* show(const QString& name)
    {
        if (name == QLatin1String("main"))
            return &program->Form1();
        if (name == QLatin1String("mailer")) {
            program->emailForm().show();
            return &program->emailForm();
        }
        if (name == QLatin1String("mailbox")) { // Check for bounces' settings
            auto* dialog = new MailboxDialog(&program->emailForm(), MailboxSettings());
            dialog->show();
            return dialog;
        }
        QSignalSpy ran(&program->Herald(), &THerald::runFinished);
        program->Herald().show();
        if (!ran.wait(10000))
            qFatal("the results window's run did not end");
        return &program->Herald();
    }
};

void addWindowRows()
{
    QTest::addColumn<QString>("window");
    for (const char* name : {"main", "results", "mailer", "mailbox"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

} // namespace

class WindowsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { isolateRuntimeFolder(); }

    void tabFromTheFirstControlReachesEveryButton_data() { addWindowRows(); }
    void tabFromTheFirstControlReachesEveryButton()
    {
        QFETCH(QString, window);
        Start s;
        QWidget* w = s.show(window);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QSet<QString> buttons;
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            if (b->isVisibleTo(w) && b->isEnabled() && (b->focusPolicy() & Qt::TabFocus))
                buttons << b->objectName();
        QVERIFY(buttons.size() >= (window == QLatin1String("mailbox") ? 2 : 3));
        QWidget* first = w->nextInFocusChain();
        while (!(first->focusPolicy() & Qt::TabFocus) || !first->isVisibleTo(w) || !first->isEnabled())
            first = first->nextInFocusChain();
        first->setFocus(Qt::OtherFocusReason);
        for (int i = 0; i < 100 && !buttons.isEmpty(); ++i) {
            QTest::keyClick(w->focusWidget(), Qt::Key_Tab);
            buttons.remove(w->focusWidget()->objectName());
        }
        QVERIFY2(buttons.isEmpty(), qPrintable(QStringList(buttons.values()).join(u' ')));
    }

    // Every button and every label of a field has an Alt+letter of its own;
    // the views and text areas, whose frames show no focus, get a frame.
    void everyControlHasItsLetterAndShowsItsFocus_data() { addWindowRows(); }
    void everyControlHasItsLetterAndShowsItsFocus()
    {
        QFETCH(QString, window);
        Start s;
        QWidget* w = s.show(window);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QHash<char16_t, QString> letters;
        QStringList without;
        for (QWidget* control : w->findChildren<QWidget*>()) {
            auto* label = qobject_cast<QLabel*>(control);
            auto* button = qobject_cast<QAbstractButton*>(control);
            if ((!(label && label->buddy()) && !(button && !button->text().isEmpty())) || control->window() != w)
                continue;
            const QString text = label ? label->text() : button->text();
            const char16_t letter = shortcutLetter(text);
            if (!letter && control->isVisibleTo(w) && !control->property(ShortcutLast).toBool() &&
                !(label && label->buddy()->property(ShortcutLast).toBool()))
                without << text;
            QVERIFY2(!letter || !letters.contains(letter), qPrintable(text + u' ' + letters.value(letter)));
            if (letter)
                letters.insert(letter, text);
        }
        QVERIFY2(without.isEmpty(), qPrintable(without.join(u'|')));
        int views = 0;
        for (QAbstractScrollArea* view : w->findChildren<QAbstractScrollArea*>()) {
            if (qobject_cast<QScrollArea*>(view) || !view->isVisibleTo(w) || !(view->focusPolicy() & Qt::TabFocus))
                continue;
            view->setFocus(Qt::TabFocusReason);
            auto* frame = w->findChild<QFocusFrame*>(QStringLiteral("FocusFrame"));
            QVERIFY2(frame && frame->widget() == view && frame->isVisible(), qPrintable(view->objectName()));
            ++views;
        }
        // the mailbox dialog holds fields alone, no view to frame
        QVERIFY(views >= 1 || window == QLatin1String("mailbox"));
    }

    void windowsOpenInsideTheScreenWithTheirButtonsInView_data() { addWindowRows(); }
    void windowsOpenInsideTheScreenWithTheirButtonsInView()
    {
        QFETCH(QString, window);
        Start s;
        QWidget* w = s.show(window);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const QRect area = w->screen()->availableGeometry();
        const QString where = QStringLiteral("%1 in %2x%3").arg(window).arg(area.width()).arg(area.height());
        QVERIFY2(area.contains(w->frameGeometry()), qPrintable(where));
        int buttons = 0;
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
            QWidget* up = b->parentWidget();
            while (up != w && !qobject_cast<QScrollArea*>(up))
                up = up->parentWidget();
            if (up != w || !b->isVisibleTo(w))
                continue; // a form's own buttons may scroll
            ++buttons;
            QVERIFY2(area.contains(QRect(b->mapToGlobal(QPoint()), b->size())), qPrintable(where + b->objectName()));
            QVERIFY2(b->visibleRegion().boundingRect() == b->rect(), qPrintable(where + b->objectName()));
        }
        QVERIFY(buttons >= (window == QLatin1String("mailbox") ? 2 : 3));
    }

    void statisticsAreReadableInEitherPalette_data()
    {
        QTest::addColumn<QColor>("background");
        QTest::addColumn<QColor>("text");
        QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black);
        QTest::newRow("dark") << QColor(0x1e, 0x1e, 0x1e) << QColor(0xe0, 0xe0, 0xe0);
        QTest::newRow("dark grey") << QColor(0x45, 0x45, 0x45) << QColor(Qt::white);
    }
    void statisticsAreReadableInEitherPalette()
    {
        QFETCH(QColor, background);
        QFETCH(QColor, text);
        const QPalette before = QApplication::palette();
        QPalette palette = before;
        palette.setColor(QPalette::Base, background);
        palette.setColor(QPalette::Text, text);
        QApplication::setPalette(palette);
        Start s;
        s.show(QStringLiteral("results"));
        QApplication::setPalette(before);
        const QColor shown =
            QTextCursor(s.program->Herald().RichEdit1->document()->lastBlock()).charFormat().foreground().color();
        const auto luminance = [](const QColor& c) {
            const auto lin = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
            return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
        };
        const auto [dark, light] = std::minmax({luminance(shown), luminance(background)});
        QVERIFY2((light + 0.05) / (dark + 0.05) >= 4.5, qPrintable(shown.name()));
        if (background == Qt::white)
            QCOMPARE(shown, QColor(Qt::blue)); // blue wherever blue reads
    }

    void previewLinksReadInEitherPalette_data() { statisticsAreReadableInEitherPalette_data(); }
    void previewLinksReadInEitherPalette()
    {
        QFETCH(QColor, background);
        QPalette palette;
        palette.setColor(QPalette::Base, background);
        palette.setColor(QPalette::Link, QColor(0x2a, 0x82, 0xda)); // Breeze's link blue
        const QColor link = readableLinkColour(palette);
        QVERIFY2(contrast(link, background) >= 4.5, qPrintable(link.name()));
    }

    void productListShowsTheKeyboardFocus()
    {
        Start s;
        TForm1& f = s.program->Form1();
        f.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&f));
        f.protectMask->setFocus();
        const QImage without = f.StoreBox->grab().toImage();
        f.StoreBox->setFocus(Qt::TabFocusReason);
        QVERIFY(f.StoreBox->hasFocus());
        // the list's own frame, away from the selected item, changes
        const QPoint edge(0, without.height() / 2);
        QVERIFY(f.StoreBox->grab().toImage().pixel(edge) != without.pixel(edge));
    }
};

QTEST_MAIN(WindowsTest)
#include "test_app_windows.moc"
