#include "tests/support/ScriptedPlatform.h"

#include <QtGlobal>

namespace og {

ScriptedPlatform::ScriptedPlatform()
    : failureHandler_([](const QString& message) { qFatal("ScriptedPlatform: %s", qPrintable(message)); })
{
}

void ScriptedPlatform::queueAnswer(Answer answer)
{
    answers_.enqueue(answer);
}

void ScriptedPlatform::queueConfirm(bool yes)
{
    confirms_.enqueue(yes);
}
void ScriptedPlatform::queueAction(bool go)
{
    actions_.enqueue(go);
}
void ScriptedPlatform::queueFileName(const QString& path)
{
    fileNames_.enqueue(path);
}
void ScriptedPlatform::queueFileNames(const QStringList& paths)
{
    fileNameLists_.enqueue(paths);
}
void ScriptedPlatform::setClipboardText(const QString& text)
{
    clipboard_ = text;
}
void ScriptedPlatform::queuePassword(const QString& password)
{
    passwords_.enqueue(password);
}
void ScriptedPlatform::clearClipboard()
{
    clipboard_.reset();
}

void ScriptedPlatform::setFailureHandler(std::function<void(const QString&)> handler)
{
    failureHandler_ = std::move(handler);
}

void ScriptedPlatform::setObserver(std::function<void(const Call&)> observer)
{
    observer_ = std::move(observer);
}

QString ScriptedPlatform::kindName(Call::Kind kind)
{
    switch (kind) {
    case Call::Error:
        return QStringLiteral("error box");
    case Call::Confirm:
        return QStringLiteral("confirmation");
    case Call::Information:
        return QStringLiteral("information box");
    case Call::OpenFileName:
        return QStringLiteral("open-file dialog");
    case Call::OpenFileNames:
        return QStringLiteral("multiple open-file dialog");
    case Call::Clipboard:
        return QStringLiteral("clipboard read");
    case Call::OpenUrl:
        return QStringLiteral("open URL");
    case Call::OpenFile:
        return QStringLiteral("open file");
    case Call::Ask:
        return QStringLiteral("question");
    case Call::KeyringRead:
        return QStringLiteral("keyring read");
    case Call::KeyringWrite:
        return QStringLiteral("keyring write");
    case Call::KeyringDelete:
        return QStringLiteral("keyring delete");
    case Call::AskPassword:
        return QStringLiteral("password prompt");
    case Call::Warning:
        return QStringLiteral("warning box");
    case Call::ChooseFolder:
        return QStringLiteral("folder dialog");
    case Call::CopyToClipboard:
        return QStringLiteral("clipboard write");
    case Call::ConfirmAction:
        return QStringLiteral("question before an action");
    }
    return QStringLiteral("unknown call");
}

QStringList ScriptedPlatform::texts(Call::Kind kind) const
{
    QStringList out;
    for (const Call& c : calls_) {
        if (c.kind == kind)
            out << c.text;
    }
    return out;
}

qsizetype ScriptedPlatform::count(Call::Kind kind) const
{
    qsizetype n = 0;
    for (const Call& c : calls_)
        n += c.kind == kind ? 1 : 0;
    return n;
}

QStringList ScriptedPlatform::unusedAnswers() const
{
    QStringList out;
    for (bool yes : confirms_)
        out << QStringLiteral("confirm answer %1").arg(yes ? QStringLiteral("Yes") : QStringLiteral("No"));
    for (bool go : actions_)
        out << QStringLiteral("action answer %1").arg(go ? QStringLiteral("go") : QStringLiteral("Cancel"));
    for (Answer answer : answers_)
        out << QStringLiteral("answer %1")
                   .arg(answer == Answer::Yes     ? QStringLiteral("Yes")
                           : answer == Answer::No ? QStringLiteral("No")
                                                  : QStringLiteral("Cancel"));
    if (!passwords_.isEmpty())
        out << QStringLiteral("%1 password(s)").arg(passwords_.size());
    for (const QString& name : fileNames_)
        out << QStringLiteral("file name \"%1\"").arg(name);
    for (const QStringList& names : fileNameLists_)
        out << QStringLiteral("file names \"%1\"").arg(names.join(QLatin1String("\", \"")));
    return out;
}

bool ScriptedPlatform::verifyAllUsed()
{
    const QStringList left = unusedAnswers();
    if (left.isEmpty())
        return true;
    fail(QStringLiteral("scripted answers never asked for: ") + left.join(QLatin1String("; ")));
    return false;
}

void ScriptedPlatform::record(Call::Kind kind, const QString& text, const QString& filter)
{
    calls_.append(Call {kind, text, filter});
    if (observer_)
        observer_(calls_.last());
}

void ScriptedPlatform::fail(const QString& message)
{
    failureHandler_(message);
}

void ScriptedPlatform::showError(QWidget*, const QString& text)
{
    record(Call::Error, text);
}

bool ScriptedPlatform::confirm(QWidget*, const QString& text)
{
    // The answer is taken before the observer runs, so an observer that
    // closes windows sees the same state as a user would.
    const bool scripted = !confirms_.isEmpty();
    const bool answer = scripted ? confirms_.dequeue() : false;
    record(Call::Confirm, text);
    if (!scripted)
        fail(QStringLiteral("unscripted confirmation \"%1\"").arg(text));
    return answer;
}

bool ScriptedPlatform::confirmAction(QWidget*, const QString& text, const QString& action)
{
    const bool scripted = !actions_.isEmpty();
    const bool answer = scripted ? actions_.dequeue() : false;
    record(Call::ConfirmAction, text, action);
    if (!scripted)
        fail(QStringLiteral("unscripted question before \"%1\": \"%2\"").arg(action, text));
    return answer;
}

void ScriptedPlatform::showInformation(QWidget*, const QString& text)
{
    record(Call::Information, text);
}

void ScriptedPlatform::showWarning(QWidget*, const QString& text)
{
    record(Call::Warning, text);
}

QString ScriptedPlatform::chooseFolder(QWidget*, const QString& title, const QString& start)
{
    const bool scripted = !fileNames_.isEmpty();
    const QString answer = scripted ? fileNames_.dequeue() : QString();
    record(Call::ChooseFolder, title, start);
    if (!scripted)
        fail(QStringLiteral("unscripted folder dialog \"%1\"").arg(title));
    return answer;
}

QString ScriptedPlatform::openFileName(QWidget*, const FileDialogRequest& request)
{
    const bool scripted = !fileNames_.isEmpty();
    const QString answer = scripted ? fileNames_.dequeue() : QString();
    record(Call::OpenFileName, request.title, request.filter);
    if (!scripted)
        fail(QStringLiteral("unscripted open-file dialog \"%1\"").arg(request.title));
    return answer;
}

QStringList ScriptedPlatform::openFileNames(QWidget*, const FileDialogRequest& request)
{
    const bool scripted = !fileNameLists_.isEmpty();
    const QStringList answer = scripted ? fileNameLists_.dequeue() : QStringList();
    record(Call::OpenFileNames, request.title, request.filter);
    if (!scripted)
        fail(QStringLiteral("unscripted multiple open-file dialog \"%1\"").arg(request.title));
    return answer;
}

QString ScriptedPlatform::clipboardText()
{
    record(Call::Clipboard, clipboard_.value_or(QString()));
    if (!clipboard_)
        fail(QStringLiteral("unscripted clipboard read"));
    return clipboard_.value_or(QString());
}

void ScriptedPlatform::copyToClipboard(const QString& text)
{
    record(Call::CopyToClipboard, text);
    clipboard_ = text;
}

Platform::Answer ScriptedPlatform::ask(QWidget*, const QString& text)
{
    const bool scripted = !answers_.isEmpty();
    const Answer answer = scripted ? answers_.dequeue() : Answer::Cancel;
    record(Call::Ask, text);
    if (!scripted)
        fail(QStringLiteral("unscripted question \"%1\"").arg(text));
    return answer;
}

bool ScriptedPlatform::openUrl(const QString& url, QString* why)
{
    record(Call::OpenUrl, url);
    if (why)
        *why = launchFailure_;
    return launchFailure_.isEmpty();
}

bool ScriptedPlatform::openFile(const QString& path, QString* why)
{
    record(Call::OpenFile, path);
    if (why)
        *why = launchFailure_;
    return launchFailure_.isEmpty();
}

Platform::KeyringReply ScriptedPlatform::keyringCall(Call::Kind kind, const QString& key)
{
    record(kind, key);
    KeyringReply reply;
    if (!keyringAvailable_) {
        reply.status = KeyringStatus::NoKeyring;
        reply.why = QStringLiteral("No keyring daemon");
    } else {
        reply.status =
            kind == Call::KeyringWrite || keyring_.contains(key) ? KeyringStatus::Done : KeyringStatus::NotFound;
    }
    return reply;
}

Platform::KeyringReply ScriptedPlatform::readPassword(const QString& key)
{
    KeyringReply reply = keyringCall(Call::KeyringRead, key);
    if (reply.status == KeyringStatus::Done)
        reply.password = keyring_.value(key);
    return reply;
}

Platform::KeyringReply ScriptedPlatform::writePassword(const QString& key, const QString& password)
{
    KeyringReply reply = keyringCall(Call::KeyringWrite, key);
    if (reply.status == KeyringStatus::Done)
        keyring_.insert(key, password);
    return reply;
}

Platform::KeyringReply ScriptedPlatform::deletePassword(const QString& key)
{
    KeyringReply reply = keyringCall(Call::KeyringDelete, key);
    if (reply.status == KeyringStatus::Done)
        keyring_.remove(key);
    return reply;
}

bool ScriptedPlatform::askPassword(QWidget*, const QString& text, QString* password)
{
    const bool scripted = !passwords_.isEmpty();
    const QString answer = scripted ? passwords_.dequeue() : QString();
    record(Call::AskPassword, text);
    if (!scripted)
        fail(QStringLiteral("unscripted password prompt \"%1\"").arg(text));
    *password = answer;
    return !answer.isEmpty();
}

} // namespace og
