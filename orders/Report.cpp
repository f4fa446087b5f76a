#include "orders/Report.h"

#include "common/TextFiles.h"
#include "orders/FoldedIndex.h"
#include "orders/HugePages.h"
#include "orders/ReportFields.h"

#include <QHash>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace og {

namespace {

bool hasControlCharacter(QByteArrayView line)
{
    // no early exit: a loop the compiler can vectorise
    bool found = false;
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        found |= (u < 0x20 && u != '\t') | (u == 0x7f);
    }
    return found;
}

// Why a line with an "@" is no order; nothing when it is one. A control
// character would break the batch file on the server (ksh stops at a zero
// byte, leaving every password behind); an empty order number would make an
// account without a password.
std::optional<SkipReason> whyNoOrder(QByteArrayView line, const ReportLayout& layout, QByteArray& spill)
{
    if (hasControlCharacter(line))
        return SkipReason::ControlCharacter;
    const QByteArrayView text = bytes::trimmed(line);
    const QByteArrayView address = bytes::trimmed(layout.orderAddress(text, spill));
    const qsizetype at = address.indexOf('@');
    if (at <= 0 || at + 1 == address.size() || address.sliced(at + 1).contains('@') || address.contains(' ') ||
        address.contains('\t'))
        return SkipReason::NoAddress;
    if (layout.field(text, layout.order, spill).isEmpty())
        return SkipReason::NoOrderNumber;
    return std::nullopt;
}

} // namespace

QString skipReasonText(SkipReason reason)
{
    switch (reason) {
    case SkipReason::NoAddress:
        return QStringLiteral("no address");
    case SkipReason::NoOrderNumber:
        return QStringLiteral("no order number");
    case SkipReason::ControlCharacter:
        return QStringLiteral("a control character");
    }
    return {};
}

void Report::read(const QString& text)
{
    text_ = text.toUtf8();
    intake();
}

void Report::readBytes(QByteArray bytes)
{
    text_ = toValidUtf8(std::move(bytes));
    intake();
}

QByteArrayView Report::lineBytes(qsizetype i) const
{
    const qsizetype start = lineStarts_[size_t(i)];
    if (size_t(i) + 1 == lineStarts_.size()) {
        // the last line may end with the text or with a line end
        qsizetype end = text_.size();
        if (end > start && text_[end - 1] == '\n')
            --end;
        if (end > start && text_[end - 1] == '\r')
            --end;
        return QByteArrayView(text_.constData() + start, end - start);
    }
    // the line end before the next line: CR LF, LF or CR
    qsizetype end = lineStarts_[size_t(i) + 1] - 1;
    if (text_[end] == '\n' && end > start && text_[end - 1] == '\r')
        --end;
    return QByteArrayView(text_.constData() + start, end - start);
}

qsizetype Report::orderLineCount(int product) const
{
    return product < 0 ? orderLines_ : linesOf_[size_t(product)];
}

qsizetype Report::orderBytes(int product) const
{
    return product < 0 ? orderBytes_ : bytesOf_[size_t(product)];
}

QString Report::line(qsizetype i) const
{
    return QString::fromUtf8(lineBytes(i));
}

QStringList Report::products() const
{
    if (distinct_.size() < 2)
        return distinct_;
    QStringList list;
    list.reserve(distinct_.size() + 1);
    list.append(QStringLiteral("All"));
    list.append(distinct_);
    return list;
}

int Report::findProduct(QStringView name) const
{
    for (qsizetype k = 0; k < distinct_.size(); ++k) {
        if (equalIgnoringCase(distinct_[k], name))
            return int(k);
    }
    return -1;
}

void Report::intake()
{
    lineStarts_.clear();
    linesOf_.clear();
    bytesOf_.clear();
    orderBytes_ = 0;
    productOf_.clear();
    distinct_.clear();
    layout_ = &defaultReportLayout();
    headerLine_ = -1;
    orderLines_ = 0;
    skippedCount_ = 0;
    skipped_.clear();

    // Lines end at CR LF, and also at a lone LF (files saved on Linux) or a
    // lone CR; an end at the very end of the text starts no further line.
    const char* base = text_.constData();
    const qsizetype size = text_.size();
    {
        // one line per LF at most, plus lone CRs (rare) and an unended last line
        size_t estimate = 1;
        for (const char* p = base; (p = static_cast<const char*>(std::memchr(p, '\n', size_t(base + size - p)))); ++p)
            ++estimate;
        lineStarts_.reserve(estimate);
        adviseHugePages(lineStarts_.data(), estimate * sizeof(qsizetype));
    }
    qsizetype start = 0;
    while (start < size) {
        const void* nl = std::memchr(base + start, '\n', size_t(size - start));
        const qsizetype lf = nl ? static_cast<const char*>(nl) - base : size;
        qsizetype from = start;
        // lone CRs inside [from, lf)
        for (;;) {
            const void* cr = std::memchr(base + from, '\r', size_t(lf - from));
            if (!cr)
                break;
            const qsizetype at = static_cast<const char*>(cr) - base;
            if (at + 1 == lf && nl)
                break; // CR LF
            lineStarts_.push_back(from);
            from = at + 1;
        }
        if (from < lf || nl)
            lineStarts_.push_back(from);
        start = lf + 1;
    }

    productOf_.reserve(lineStarts_.size());
    adviseHugePages(productOf_.data(), lineStarts_.size() * sizeof(int32_t));
    productOf_.assign(lineStarts_.size(), -1);
    QHash<QByteArray, int> bySpelling;
    std::unordered_map<std::string, int> byFolded;
    std::string folded;
    std::vector<std::pair<QByteArray, int>> recent;
    QByteArray spill;

    for (size_t i = 0; i < lineStarts_.size(); ++i) {
        const QByteArrayView line = lineBytes(qsizetype(i));
        if (bytes::trimmed(line).isEmpty())
            continue;
        if (const ReportLayout* announced = headerLayout(line, qsizetype(i))) {
            layout_ = announced;
            headerLine_ = qsizetype(i);
            continue;
        }
        if (!line.contains('@'))
            continue;
        if (const std::optional<SkipReason> reason = whyNoOrder(line, *layout_, spill)) {
            if (qsizetype(skipped_.size()) < kSkippedKept)
                skipped_.push_back({qsizetype(i), *reason});
            ++skippedCount_;
            continue;
        }
        const QByteArrayView product = layout_->field(line, layout_->product, spill);
        // Reports name few spellings; they are found by a short scan before
        // anything is allocated.
        int index = -1;
        for (const auto& [spelling, k] : recent) {
            if (product == QByteArrayView(spelling)) {
                index = k;
                break;
            }
        }
        if (index < 0) {
            const QByteArray spelling = product.toByteArray();
            auto hit = bySpelling.constFind(spelling);
            if (hit != bySpelling.constEnd()) {
                index = hit.value();
            } else {
                foldCaseUtf8(product, folded);
                auto same = byFolded.find(folded);
                if (same != byFolded.end()) {
                    index = same->second;
                } else {
                    index = int(distinct_.size());
                    distinct_.append(QString::fromUtf8(product));
                    linesOf_.push_back(0);
                    bytesOf_.push_back(0);
                    byFolded.emplace(folded, index);
                }
                bySpelling.insert(spelling, index);
            }
            if (recent.size() < 16)
                recent.emplace_back(spelling, index);
        }
        productOf_[i] = index;
        ++orderLines_;
        ++linesOf_[size_t(index)];
        bytesOf_[size_t(index)] += line.size();
        orderBytes_ += line.size();
    }
}

} // namespace og
