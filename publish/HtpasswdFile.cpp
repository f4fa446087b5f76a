#include "publish/HtpasswdFile.h"

#include <QHash>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>

namespace og {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Apache's reading of a line: blanks around it removed.
QByteArrayView trimmedLine(QByteArrayView line)
{
    while (!line.isEmpty() && isBlank(line.front()))
        line = line.sliced(1);
    while (!line.isEmpty() && isBlank(line.back()))
        line.chop(1);
    return line;
}

// What one account of the new file needs: its line kept, or hashed anew.
struct Job {
    const PublishAccount* account;
    const QByteArray* onServer; // the hash there, or null
    QByteArray hash;            // the line's hash, once done
    bool verified = false;
};

// Runs work(job) for every job on every core; the first exception is
// thrown here once all threads have stopped.
template <typename Work>
void onEveryCore(std::vector<Job>& jobs, Work work)
{
    std::atomic<size_t> next {0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto worker = [&] {
        try {
            for (size_t i = next++; i < jobs.size(); i = next++)
                work(jobs[i]);
        } catch (...) {
            const std::lock_guard lock(failureLock);
            if (!failure)
                failure = std::current_exception();
            next = jobs.size();
        }
    };
    const size_t n = std::clamp<size_t>(std::thread::hardware_concurrency(), 1, std::max<size_t>(jobs.size(), 1));
    std::vector<std::thread> threads;
    for (size_t t = 1; t < n; ++t)
        threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads)
        t.join();
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace

std::vector<HtpasswdLine> parseHtpasswd(QByteArrayView text)
{
    std::vector<HtpasswdLine> lines;
    QHash<QByteArray, bool> seen;
    while (!text.isEmpty()) {
        const qsizetype end = text.indexOf('\n');
        QByteArrayView line = trimmedLine(end < 0 ? text : text.first(end));
        text = end < 0 ? QByteArrayView() : text.sliced(end + 1);
        if (line.isEmpty() || line.front() == '#')
            continue;
        const qsizetype colon = line.indexOf(':');
        const QByteArrayView user = colon < 0 ? line : line.first(colon);
        QByteArrayView hash = colon < 0 ? QByteArrayView() : line.sliced(colon + 1);
        // Apache takes the hash up to a further ":"
        if (const qsizetype more = hash.indexOf(':'); more >= 0)
            hash = hash.first(more);
        if (seen.contains(user.toByteArray()))
            continue;
        seen.insert(user.toByteArray(), true);
        lines.push_back({user.toByteArray(), hash.toByteArray()});
    }
    return lines;
}

QByteArray writeHtpasswd(const std::vector<HtpasswdLine>& lines)
{
    QByteArray text;
    for (const HtpasswdLine& line : lines)
        text += line.user + ':' + line.hash + '\n';
    return text;
}

HtpasswdPlan planHtpasswd(const std::vector<PublishAccount>& accounts, QByteArrayView current, HashKind kind)
{
    const std::vector<HtpasswdLine> old = parseHtpasswd(current);
    QHash<QByteArray, const QByteArray*> onServer;
    for (const HtpasswdLine& line : old)
        onServer.insert(line.user, &line.hash);

    // One job a user, at its first place, with its last password.
    QHash<QByteArray, size_t> place;
    std::vector<Job> jobs;
    for (const PublishAccount& account : accounts) {
        if (const auto it = place.constFind(account.user); it != place.cend()) {
            jobs[*it].account = &account;
            continue;
        }
        place.insert(account.user, jobs.size());
        jobs.push_back({&account, onServer.value(account.user, nullptr), {}, false});
    }
    onEveryCore(jobs, [kind](Job& job) {
        job.verified = job.onServer && hashMatches(*job.onServer, job.account->password);
        if (job.verified && hashKindOf(*job.onServer) == kind)
            job.hash = *job.onServer;
        else
            job.hash = makeHash(kind, job.account->password);
    });

    HtpasswdPlan plan;
    std::vector<HtpasswdLine> lines;
    lines.reserve(jobs.size());
    for (const Job& job : jobs) {
        lines.push_back({job.account->user, job.hash});
        if (!job.onServer) {
            ++plan.counts.added;
            plan.added.push_back(*job.account);
        } else if (!job.verified) {
            ++plan.counts.changed;
            plan.changed.push_back(*job.account);
        } else {
            ++plan.counts.kept;
            plan.counts.rehashed += job.hash != *job.onServer;
            plan.kept.push_back(*job.account);
        }
    }
    for (const HtpasswdLine& line : old) {
        if (!place.contains(line.user)) {
            ++plan.counts.removed;
            plan.removed.push_back(line.user);
        }
    }
    plan.counts.total = qsizetype(lines.size());
    plan.file = writeHtpasswd(lines);
    return plan;
}

} // namespace og
