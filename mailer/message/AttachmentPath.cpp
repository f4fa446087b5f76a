#include "mailer/message/AttachmentPath.h"

#include <QDir>
#include <QFileInfo>

namespace og {

namespace {

QString quoted(const QString& value)
{
    QString shown;
    for (const QChar c : value)
        shown += c.unicode() < 0x20 || c.unicode() == 0x7f
            ? QStringLiteral("\\x%1").arg(int(c.unicode()), 2, 16, QLatin1Char('0'))
            : QString(c);
    return u'"' + shown + u'"';
}

bool hasControl(const QString& value)
{
    for (const QChar c : value)
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            return true;
    return false;
}

// The problem of a whole path from the address file (absoluteValues).
QString absoluteValueProblem(const QString& value)
{
    if (hasControl(value))
        return QStringLiteral("holds a control character");
    if (!QDir::isAbsolutePath(value))
        return QStringLiteral("is not an absolute path");
    if (QDir::fromNativeSeparators(value).split(u'/').contains(QStringLiteral("..")))
        return QStringLiteral("holds \"..\"");
    return {};
}

} // namespace

QString pathValueProblem(const QString& value)
{
    if (hasControl(value))
        return QStringLiteral("holds a control character");
    if (value.contains(u'/') || value.contains(u'\\'))
        return QStringLiteral("holds a folder separator");
    if (value.contains(QStringLiteral("..")))
        return QStringLiteral("holds \"..\"");
    if (value.startsWith(u'~') || value.startsWith(u'-'))
        return QStringLiteral("starts with \"%1\"").arg(value.front());
    return {};
}

ResolvedAttachment resolveAttachment(
    const FieldText& pattern, const AddressRecord& customer, const AttachmentRules& rules)
{
    const bool whole = rules.absoluteValues && pattern.isFieldAlone();
    QString refusal;
    const QString filled = QDir::fromNativeSeparators(pattern.fill(customer, [&](const QString& value) {
        const QString problem = whole ? absoluteValueProblem(value) : pathValueProblem(value);
        if (refusal.isEmpty() && !problem.isEmpty())
            refusal = QStringLiteral("the value %1 %2").arg(quoted(value), problem);
        return value;
    }));
    if (!refusal.isEmpty())
        return {QString(), refusal + QStringLiteral(": a field may only name a file inside the attachment's folder")};
    if (whole)
        return {QDir::cleanPath(filled), QString()};

    // The folder the vendor typed: the fixed part up to its last separator.
    const QString fixed = QDir::fromNativeSeparators(pattern.leadingText());
    QString folder = fixed.left(fixed.lastIndexOf(u'/') + 1);
    const QDir base(rules.baseFolder);
    const QString path = QDir::cleanPath(base.absoluteFilePath(filled));
    folder = QDir::cleanPath(base.absoluteFilePath(folder.isEmpty() ? QStringLiteral(".") : folder));
    const QFileInfo file(path);
    if (!file.exists())
        return {path, QString()}; // missing: the caller names it
    const QString root = QFileInfo(folder).canonicalFilePath();
    const QString real = file.canonicalFilePath();
    if (root.isEmpty() || !real.startsWith(root.endsWith(u'/') ? root : root + u'/'))
        return {QString(),
            QStringLiteral("%1 leads outside the attachment's folder %2")
                .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(folder))};
    return {path, QString()};
}

} // namespace og
