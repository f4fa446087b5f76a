// The windows and dialogs as a keyboard and a screen meet them: Tab gets
// everywhere, the focus shows, the windows fit the screen the test runs on
// (tests/app/CMakeLists.txt runs this under several scalings and sizes).

#include "AppTestSupport.h"

#include "app/HeraldF.h"
#include "app/MakeKshF.h"
#include "app/MapColumnsDialog.h"
#include "app/Ordergate.h"
#include "app/PublishDialog.h"
#include "app/mailer/EmailForm.h"
#include "app/mailer/MailboxDialog.h"
#include "app/mailer/PreviewDialog.h"
#include "app/mailer/SpellDialog.h"
#include "platform/Contrast.h"
#include "platform/KeyboardAccess.h"
#include "tests/support/ScriptedPlatform.h"
#include "tests/support/ScriptedSmtpServer.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QFocusFrame>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
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
    ~Start()
    {
        if (program->emailForm().isSending()) {
            platform.queueConfirm(true);
            program->emailForm().close();
            program->emailForm().waitForRunEnd(5000);
        }
        QDir::setCurrent(QDir::tempPath());
    }

    // Shows the window as its button would (without its modal loop).
    QWidget* show(const QString& name)
    {
        TemailForm& mailer = program->emailForm();
        if (name == QLatin1String("main"))
            return &program->Form1();
        if (name == QLatin1String("mailer") || name == QLatin1String("Microsoft login")) {
            if (name != QLatin1String("mailer"))
                writeFile(mailer.SettingsPath, "[user]\nauth=oauth2\noauthprovider=microsoft\n");
            mailer.show();
            return &mailer;
        }
        if (name == QLatin1String("sending") || name == QLatin1String("preview")) {
            mailer.show();
            writeFile(slashed(folder) + "email.txt", "a@example.com\r\n");
            platform.queueFileName(slashed(folder) + "email.txt");
            mailer.findChild<QPushButton*>("Button1")->click();
            mailer.findChild<QLineEdit*>("MyAddress")->setText(QStringLiteral("vendor@example.com"));
            mailer.findChild<QLineEdit*>("MyServer")->setText(QString::fromStdString(silent.Address()));
            mailer.findChild<QLineEdit*>("MySubject")->setText(QStringLiteral("Version 2 is out"));
            mailer.findChild<QPlainTextEdit*>("Memo1")->setPlainText(QStringLiteral("Body"));
            if (name == QLatin1String("preview")) {
                mailer.findChild<QPushButton*>("PreviewButton")->click();
                return mailer.findChild<PreviewDialog*>();
            }
            platform.queueAction(true);
            mailer.findChild<QPushButton*>("BitBtn1")->click();
            if (!mailer.isSending())
                qFatal("the mailer is not sending");
            return &mailer;
        }
        QWidget* dialog = nullptr;
        if (name == QLatin1String("mailbox")) // Check for bounces' settings
            dialog = new MailboxDialog(&mailer, MailboxSettings());
        else if (name == QLatin1String("spelling"))
            dialog = new SpellDialog(&mailer);
        else if (name == QLatin1String("map columns"))
            dialog = new MapColumnsDialog(platform, "Reference,Buyer e-mail,Item\n1,a@example.com,Tool\n",
                mailer.SettingsPath, {}, &program->Form1());
        else if (name == QLatin1String("publish"))
            dialog = new PublishDialog(platform, {mailer.SettingsPath, slashed(folder), "Tool", {}}, &program->Form1());
        if (dialog) {
            dialog->show();
            return dialog;
        }
        QSignalSpy ran(&program->Herald(), &THerald::runFinished);
        program->Herald().show();
        if (!ran.wait(10000))
            qFatal("the results window's run did not end");
        return &program->Herald();
    }
    og::test::ScriptedSmtpServer silent {[] {
        og::test::SmtpAnswers a;
        a.silentFrom = 0; // a send that stays under way
        return a;
    }()};
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
        QVERIFY(views >= (window == QLatin1String("mailbox") ? 0 : 1)); // the mailbox's has none
    }

    // At the size their contents ask for, up to the screen's, and again at
    // the narrowest they go (where forms reflow): no sideways scrolling, up
    // and down only on a screen too short, every button and field inside
    // the screen, every caption whole.
    void windowsFitTheScreen_data()
    {
        QTest::addColumn<QString>("window");
        for (const char* name : {"main", "results", "mailer", "Microsoft login", "sending", "mailbox", "map columns",
                 "preview", "spelling", "publish"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void windowsFitTheScreen()
    {
        QFETCH(QString, window);
        Start s;
        QWidget* w = s.show(window);
        QVERIFY(w && QTest::qWaitForWindowExposed(w));
        const QRect area = w->screen()->availableGeometry();
        QStringList faults;
        for (const bool narrowest : {false, true}) {
            if (narrowest)
                w->resize(w->minimumSizeHint().width(), w->height());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            const QString where = narrowest ? QStringLiteral("narrowest: ") : QString();
            if (!area.contains(w->frameGeometry()))
                faults << where + QStringLiteral("window");
            const bool screenFull = narrowest || w->frameGeometry().height() >= area.height() - 8;
            for (QWidget* c : w->findChildren<QWidget*>()) {
                if (!c->isVisible() || c->window() != w)
                    continue;
                const QString name = where + c->objectName() + u'/' + c->metaObject()->className();
                auto* holder = qobject_cast<QScrollArea*>(c);
                if (holder && holder->horizontalScrollBar()->isVisible())
                    faults << QStringLiteral("sideways ") + name;
                if (holder && holder->verticalScrollBar()->isVisible() && !screenFull)
                    faults << QStringLiteral("scrolls with room ") + name;
                QWidget* up = c->parentWidget();
                while (up != w && !qobject_cast<QScrollArea*>(up))
                    up = up->parentWidget();
                const QRect global(c->mapToGlobal(QPoint()), c->size());
                // scrolled out of view up or down is fine, sideways never
                const QRect view = up == w ? area : QRect(up->mapToGlobal(QPoint()), up->size()) & area;
                const bool control = (c->focusPolicy() & Qt::TabFocus) &&
                    (qobject_cast<QAbstractButton*>(c) || qobject_cast<QLineEdit*>(c) || qobject_cast<QComboBox*>(c) ||
                        qobject_cast<QAbstractSpinBox*>(c));
                if (control &&
                    (global.left() < view.left() || global.right() > view.right() ||
                        (up == w && (!area.contains(global) || c->visibleRegion().boundingRect() != c->rect()))))
                    faults << QStringLiteral("outside ") + name;
                auto* label = qobject_cast<QLabel*>(c);
                auto* button = qobject_cast<QAbstractButton*>(c);
                const bool cut = label && !label->text().isEmpty() &&
                    (label->wordWrap() ? label->heightForWidth(label->width()) > label->height()
                                       : label->sizeHint().width() > label->width());
                if (cut || (button && !button->text().isEmpty() && button->sizeHint().width() > button->width()))
                    faults << where + QStringLiteral("cut ") + (label ? label->text() : button->text());
            }
        }
        QVERIFY2(faults.isEmpty(),
            qPrintable(
                QStringLiteral("%1 in %2x%3: ").arg(window).arg(area.width()).arg(area.height()) + faults.join(u'|')));
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
