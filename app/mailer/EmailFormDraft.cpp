// The mailer window's unsent message: kept for next time or discarded when
// the vendor leaves it, filled in again when the window opens.
#include "app/mailer/EmailForm.h"

#include "app/mailer/MessageControls.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>

namespace og {

MessageDraft TemailForm::currentDraft() const
{
    MessageDraft draft;
    draft.subject = MySubject->text();
    draft.body = Memo1->toPlainText();
    draft.format = settingsFromControls().format;
    for (int i = 0; i < AttBox->count(); ++i)
        draft.attachments << AttBox->itemText(i);
    return draft;
}

QString TemailForm::draftPath() const
{
    return MessageDraft::pathBeside(SettingsPath);
}

void TemailForm::restoreDraft()
{
    // A message still in the fields (from an earlier showing) is newer than
    // any kept one.
    if (MySubject->text().isEmpty() && Memo1->document()->isEmpty() && AttBox->count() == 0) {
        const MessageDraft kept = MessageDraft::load(draftPath());
        if (!kept.isEmpty()) {
            MySubject->setText(kept.subject);
            Memo1->setPlainText(kept.body);
            AttBox->addItems(kept.attachments);
            AttBox->setCurrentIndex(kept.attachments.isEmpty() ? -1 : 0);
            MailerSettings format = settingsFromControls();
            format.format = kept.format;
            Message->load(format);
            showStatus(QStringLiteral("The message kept last time is filled in"));
        }
    }
    draftShown_ = currentDraft();
}

bool TemailForm::keepDraftBeforeClosing()
{
    const MessageDraft draft = currentDraft();
    if (draft == draftShown_)
        return true;
    if (draft.isEmpty()) {
        MessageDraft::remove(draftPath());
        return true;
    }
    switch (platform_.choose(this,
        QStringLiteral("This message has not been sent. Keep this message for next time?\r\r"
                       "Keep: its subject, text, format and attachments are filled in when the mailer opens again. "
                       "Discard: it is gone. Cancel: go back to it."),
        QStringLiteral("&Keep"), QStringLiteral("&Discard"))) {
    case Platform::Answer::Yes:
        if (QString error; !draft.save(draftPath(), &error)) {
            platform_.showError(this,
                QStringLiteral("The message could not be kept in %1: %2. Copy its text elsewhere, or free the "
                               "folder and close again")
                    .arg(draftPath(), error));
            return false;
        }
        draftShown_ = draft;
        return true;
    case Platform::Answer::No:
        forgetDraft();
        return true;
    case Platform::Answer::Cancel:
        break;
    }
    return false;
}

void TemailForm::forgetDraft()
{
    MessageDraft::remove(draftPath());
    MySubject->clear();
    Memo1->clear();
    AttBox->clear();
    draftShown_ = currentDraft();
}

} // namespace og
