#include "publish/Publisher.h"

#include "common/Trim.h"
#include "orders/AccountLedger.h"
#include "orders/BatchFile.h"
#include "orders/ProductFiles.h"
#include "publish/PublishError.h"
#include "publish/SftpSession.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <optional>

namespace og {

namespace {

const QString kHtpasswd = QStringLiteral(".htpasswd");
const QString kPrevious = QStringLiteral(".htpasswd.previous");
const QString kHtaccess = QStringLiteral(".htaccess");
// Every temporary name of a publish: "<final name>.tmp-" and 8 hex digits.
const QString kTemporary = QStringLiteral(".tmp-");

QString temporaryName(const QString& final)
{
    return final + kTemporary + QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, u'0');
}

bool isOurTemporary(const QString& name)
{
    return name.startsWith(kHtpasswd + kTemporary) || name.startsWith(kPrevious + kTemporary);
}

// A name the server listed is used only when it names a file of the folder
// itself (a server could list anything).
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && !name.contains(u'/') && name != u"." && name != u"..";
}

// The server folder's path for names: the folder as given, without a
// final "/" (but "/" stays "/").
struct ServerFolder {
    QString folder;
    explicit ServerFolder(QString f)
        : folder(std::move(f))
    {
        while (folder.size() > 1 && folder.endsWith(u'/'))
            folder.chop(1);
    }
    QString operator()(const QString& name) const { return folder == u"/" ? u'/' + name : folder + u'/' + name; }
};

// Up to n of accounts, spread over them; all for n 0.
std::vector<PublishAccount> spread(const std::vector<PublishAccount>& accounts, int n)
{
    if (n <= 0 || size_t(n) >= accounts.size())
        return accounts;
    std::vector<PublishAccount> picked;
    for (int i = 0; i < n; ++i)
        picked.push_back(accounts[size_t(i) * accounts.size() / size_t(n)]);
    return picked;
}

std::vector<LoginProbe> probesFor(const HtpasswdPlan& plan, int sample)
{
    std::vector<PublishAccount> in = plan.added;
    in.insert(in.end(), plan.changed.begin(), plan.changed.end());
    if (sample <= 0)
        in.insert(in.end(), plan.kept.begin(), plan.kept.end());
    else if (in.empty())
        in = plan.kept; // nothing new: that the old still get in
    std::vector<LoginProbe> probes;
    for (const PublishAccount& a : spread(in, sample))
        probes.push_back({a.user, a.password, true});
    // A removed account is tried with a password that no account has.
    const size_t removed = sample <= 0 ? plan.removed.size() : std::min<size_t>(plan.removed.size(), 1);
    for (size_t i = 0; i < removed; ++i)
        probes.push_back({plan.removed[i], QByteArrayLiteral("removed-account-check"), false});
    return probes;
}

// What undo changes: the users of the previous file against the current.
PublishCounts compareFiles(QByteArrayView current, QByteArrayView previous)
{
    PublishCounts c;
    QHash<QByteArray, QByteArray> now;
    for (const HtpasswdLine& line : parseHtpasswd(current))
        now.insert(line.user, line.hash);
    for (const HtpasswdLine& line : parseHtpasswd(previous)) {
        ++c.total;
        const auto it = now.constFind(line.user);
        if (it == now.cend())
            ++c.added;
        else if (*it != line.hash)
            ++c.changed;
        else
            ++c.kept;
        now.remove(line.user);
    }
    c.removed = now.size();
    return c;
}

struct Checked {
    HashKind kind = HashKind::Md5;
    int passwdMode = -1, accessMode = -1, protectMode = -1;
};

Checked checkRequest(const PublishRequest& r)
{
    if (const QString problem = r.settings.problem(); !problem.isEmpty())
        throw PublishError(problem);
    Checked c;
    QString why;
    if (!r.settings.hashKind(r.options, &c.kind, &why))
        throw PublishError(why);
    c.passwdMode = parseMode(r.options.chmodPasswd);
    c.accessMode = parseMode(r.options.chmodAccess);
    c.protectMode = parseMode(r.options.chmodProtect);
    if (c.passwdMode < 0 || c.accessMode < 0 || c.protectMode < 0)
        throw PublishError(QStringLiteral("The chmod numbers must be octal modes such as 644 (now %1, %2 and %3)")
                               .arg(r.options.chmodProtect, r.options.chmodAccess, r.options.chmodPasswd));
    if (!r.settings.checkUrl.isEmpty())
        if (const QString problem = checkUrlProblem(r.settings.checkUrl); !problem.isEmpty())
            throw PublishError(problem);
    return c;
}

// The modes the batch file's chmod lines set: the protected files (the
// file mask, matched in the folder as ksh would, without hidden files) and
// .htaccess; the new .htpasswd has its mode already.
qsizetype setModes(SftpSession& s, const ServerFolder& at, const Options& options, const Checked& c)
{
    const QRegularExpression mask(QRegularExpression::wildcardToRegularExpression(options.Pmask));
    qsizetype protectedFiles = 0;
    for (const SftpSession::Entry& e : s.list(at.folder)) {
        if (!isPlainName(e.name))
            continue;
        if (e.name == kHtaccess)
            s.setMode(at(e.name), c.accessMode);
        else if (e.regular && !e.name.startsWith(u'.') && mask.match(e.name).hasMatch()) {
            s.setMode(at(e.name), c.protectMode);
            ++protectedFiles;
        }
    }
    return protectedFiles;
}

void removeLeftovers(SftpSession& s, const ServerFolder& at)
{
    for (const SftpSession::Entry& e : s.list(at.folder)) {
        if (e.regular && isPlainName(e.name) && isOurTemporary(e.name))
            s.remove(at(e.name));
    }
}

// Writes bytes as the folder's file final: a temporary file first, its mode
// set, then renamed over final.
void replaceFile(SftpSession& s, const ServerFolder& at, const QString& final, QByteArrayView bytes, int mode,
    const std::function<void()>& beforeReplace = {})
{
    const QString temporary = at(temporaryName(final));
    s.create(temporary, bytes, mode);
    s.setMode(temporary, mode);
    if (beforeReplace)
        beforeReplace();
    s.replace(temporary, at(final));
}

} // namespace

int parseMode(const QString& text)
{
    static const QRegularExpression octal(QStringLiteral("^[0-7]{3,4}$"));
    const QString t = text.trimmed();
    return octal.match(t).hasMatch() ? t.toInt(nullptr, 8) : -1;
}

std::vector<PublishAccount> accountsToPublish(
    const QString& programFolder, const QString& product, const Options& options, qsizetype* skipped)
{
    AccountLedger ledger;
    QString error;
    if (!ledger.load(programFolder, product, options.orderNr, &error))
        throw PublishError(error);
    // A cut or foreign ledger would publish a shorter list and lock out the
    // customers it lost.
    if (!ledger.distrust().isEmpty())
        throw PublishError(QStringLiteral("%1 %2; nothing was published. Restore it from a backup, or make the "
                                          "files for the product again")
                               .arg(programFolder + ledgerFileName(product), ledger.distrust()));
    if (ledger.source().isEmpty())
        throw PublishError(QStringLiteral("There are no accounts of \"%1\" in %2 (%3): make the files for the "
                                          "product first")
                               .arg(product, programFolder, ledgerFileName(product)));
    std::vector<PublishAccount> accounts;
    // lines the ledger itself refused are skipped accounts too
    *skipped = qsizetype(ledger.refusedLines().size());
    auto add = [&](QByteArrayView user, QByteArrayView password) {
        const QByteArrayView u = bytes::trimmed(user), p = bytes::trimmed(password);
        if (u.isEmpty() || p.isEmpty() || !htpasswdTakesUser(u) || !htpasswdTakesPassword(p) || u.contains('\n'))
            ++*skipped;
        else
            accounts.push_back({u.toByteArray(), p.toByteArray()});
    };
    accounts.reserve(ledger.accounts().size() + 1);
    for (const LedgerAccount& a : ledger.accounts())
        add(a.user, a.password);
    // the batch file's test account, made last
    if (!options.user.isEmpty() && !options.passwd.isEmpty())
        add(options.user.toUtf8(), options.passwd.toUtf8());
    return accounts;
}

qsizetype PublishResult::failedChecks() const
{
    return std::count_if(checks.begin(), checks.end(), [](const LoginOutcome& o) { return !o.passed(); });
}

QStringList PublishResult::lines() const
{
    QStringList out;
    const PublishCounts& c = counts;
    const QString changes = QStringLiteral("%1 new, %2 changed, %3 removed, %4 kept")
                                .arg(c.added)
                                .arg(c.changed)
                                .arg(c.removed)
                                .arg(c.kept);
    switch (mode) {
    case PublishMode::DryRun:
        out << QStringLiteral("Dry run, nothing changed on %1: publishing would make %2 accounts (%3)")
                   .arg(where)
                   .arg(c.total)
                   .arg(changes);
        break;
    case PublishMode::Undo:
        out << QStringLiteral("Put the previous .htpasswd back on %1: %2 accounts (%3 against the undone file, "
                              "kept as .htpasswd.previous)")
                   .arg(where)
                   .arg(c.total)
                   .arg(changes);
        break;
    case PublishMode::Publish:
        out << QStringLiteral("Published %1 accounts to %2 (%3)").arg(c.total).arg(where, changes);
        break;
    }
    if (mode != PublishMode::Undo && firstPublish)
        out << QStringLiteral("The folder had no .htpasswd yet");
    if (c.rehashed > 0)
        out << QStringLiteral("%1 kept accounts %2 a new hash of the chosen kind")
                   .arg(c.rehashed)
                   .arg(mode == PublishMode::DryRun ? u"would get" : u"got");
    if (skipped > 0)
        out << QStringLiteral("%1 accounts of the ledger were left out (no password, or a user name htpasswd "
                              "refuses)")
                   .arg(skipped);
    if (mode == PublishMode::Publish)
        out << QStringLiteral("Modes set: .htpasswd, .htaccess and %1 protected files").arg(modesSet);
    if (mode == PublishMode::Publish && !checked)
        out << QStringLiteral("No download address ([publish] checkUrl): nothing was checked by logging in");
    for (const LoginOutcome& o : checks)
        out << QStringLiteral("Login check: ") + o.describe();
    if (checked && !checks.empty())
        out << (failedChecks() == 0 ? QStringLiteral("Login check passed for all %1 accounts tried").arg(checks.size())
                                    : QStringLiteral("Login check FAILED for %1 of %2 accounts tried")
                                          .arg(failedChecks())
                                          .arg(checks.size()));
    return out;
}

PublishResult publish(const PublishRequest& r)
{
    const Checked c = checkRequest(r);
    PublishResult result;
    result.mode = r.mode;
    std::vector<PublishAccount> accounts;
    if (r.mode != PublishMode::Undo)
        accounts = accountsToPublish(r.programFolder, r.product, r.options, &result.skipped);

    SshTarget target;
    target.host = r.settings.host;
    target.port = r.settings.port;
    target.user = r.settings.user;
    target.keyFile = r.settings.keyFile;
    target.knownHosts = r.settings.knownHosts;
    target.password = r.password;
    target.acceptedFingerprint = r.acceptedFingerprint;
    target.timeoutSeconds = r.timeoutSeconds;
    SftpSession s(target);
    const ServerFolder at(r.settings.folder);
    result.where = s.where() + u' ' + at.folder;

    const std::optional<QByteArray> current = s.read(at(kHtpasswd));
    result.firstPublish = !current;
    if (r.mode == PublishMode::Undo) {
        const std::optional<QByteArray> previous = s.read(at(kPrevious));
        if (!previous)
            throw PublishError(QStringLiteral("%1 has no %2: there is nothing to undo").arg(result.where, kPrevious));
        result.counts = compareFiles(current.value_or(QByteArray()), *previous);
        removeLeftovers(s, at);
        if (current)
            replaceFile(s, at, kPrevious, *current, c.passwdMode);
        replaceFile(s, at, kHtpasswd, *previous, c.passwdMode, r.beforeReplace);
        return result;
    }

    const HtpasswdPlan plan = planHtpasswd(accounts, current.value_or(QByteArray()), c.kind);
    result.counts = plan.counts;
    if (r.mode == PublishMode::DryRun)
        return result;

    removeLeftovers(s, at);
    if (current)
        replaceFile(s, at, kPrevious, *current, c.passwdMode);
    replaceFile(s, at, kHtpasswd, plan.file, c.passwdMode, r.beforeReplace);
    result.modesSet = setModes(s, at, r.options, c);

    result.checked = !r.settings.checkUrl.isEmpty();
    if (result.checked)
        result.checks = checkLogins(r.settings.checkUrl, probesFor(plan, r.checkSample), r.timeoutSeconds);
    return result;
}

} // namespace og
