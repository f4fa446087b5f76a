#include "orders/OrderPass.h"

#include "orders/HeldBytes.h"
#include "orders/Prefault.h"
#include "orders/ReportFields.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <string_view>
#include <thread>
#include <unordered_set>

namespace og {

namespace {

// An account event goes into the run's list and to the batch file.
void take(const AccountEvent& event, BatchFile& batch, OrderPassOutput& out)
{
    out.events.add(event);
    if (event.makesAccount())
        out.accounts.add(event.user, event.password);
    batch.account(event);
}

bool inside(QByteArrayView value, const QByteArray& buffer)
{
    return !value.isEmpty() && value.data() >= buffer.constData() &&
        value.data() + value.size() <= buffer.constData() + buffer.size();
}

// The report's text from the first of two of its lines to the end of the
// other.
QByteArrayView spanOf(QByteArrayView a, QByteArrayView b)
{
    const char* from = std::min(a.data(), b.data());
    return QByteArrayView(from, std::max(a.data() + a.size(), b.data() + b.size()) - from);
}

// The customers a pass has taken, by the account's user (byte for byte, as
// htpasswd compares them): an open-addressing table whose slots hold each
// user's hash beside the run account it became, whose copy of the user it
// compares with (sixteen bytes a customer less than a view of its own), or
// for a blocked customer, who has no account, a view kept here. A probe reads no
// user unless the hashes agree. A big shop's table is far larger than the
// cache: a pass asks for the slots of the lines ahead (prefetch) while it
// handles this one.
class SeenUsers {
public:
    SeenUsers(qsizetype expected, const RunAccounts& accounts)
        : accounts_(accounts)
    {
        const size_t count = std::bit_ceil(size_t(std::max<qsizetype>(expected, 8)) * 2);
        slots_.reserve(count);
        prefaultForWrite(slots_.data(), count * sizeof(uint64_t));
        slots_.assign(count, 0);
    }
    static uint32_t hashOf(QByteArrayView user) { return AccountLedger::userHash(user); }
    void prefetch(uint32_t hash) const { __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]); }
    // Whether user (whose hashOf() is hash) was taken or blocked before. If
    // not, the next call is taken() or blocked(), for this user.
    bool seen(QByteArrayView user, uint32_t hash)
    {
        pendingHash_ = hash;
        const size_t mask = slots_.size() - 1;
        size_t at = pendingHash_ & mask;
        for (; slots_[at]; at = (at + 1) & mask) {
            if (uint32_t(slots_[at] >> 32) == pendingHash_ && userOf(uint32_t(slots_[at])) == user)
                return true;
        }
        pendingSlot_ = at;
        return false;
    }
    // The user seen() did not know became run account i.
    void taken(qsizetype i) { record(uint32_t(i) + 1); }
    // The user seen() did not know is blocked; lasting: the text it may lie
    // in, which outlives the pass.
    void blocked(QByteArrayView user, QByteArrayView lasting)
    {
        const bool inside = !lasting.isEmpty() && user.data() >= lasting.data() &&
            user.data() + user.size() <= lasting.data() + lasting.size();
        blocked_.push_back(inside ? user : held_.hold(user));
        record(kBlocked | uint32_t(blocked_.size()));
    }

private:
    void grow()
    {
        std::vector<uint64_t> table(slots_.size() * 2, 0);
        const size_t mask = table.size() - 1;
        for (const uint64_t slot : slots_) {
            if (!slot)
                continue;
            size_t at = (slot >> 32) & mask;
            while (table[at])
                at = (at + 1) & mask;
            table[at] = slot;
        }
        slots_ = std::move(table);
    }

    static constexpr uint32_t kBlocked = uint32_t(1) << 31;
    // an account's user as the pass took it, trimmed
    QByteArrayView userOf(uint32_t ref) const
    {
        return (ref & kBlocked) ? blocked_[(ref & ~kBlocked) - 1] : bytes::trimmed(accounts_.user(ref - 1));
    }
    void record(uint32_t ref)
    {
        slots_[pendingSlot_] = uint64_t(pendingHash_) << 32 | ref;
        if (++count_ * 2 > slots_.size())
            grow();
    }

    const RunAccounts& accounts_;
    std::vector<uint64_t> slots_;
    size_t count_ = 0;
    uint32_t pendingHash_ = 0;
    size_t pendingSlot_ = 0;
    std::vector<QByteArrayView> blocked_;
    HeldBytes held_;
};

// The customers of the order lines ahead of a pass: what the pass would
// work out for each (the address, the user's hash, the folded address) is
// worked out beforehand, on another core on a big run, and the slots of the
// customers seen and the words of the lists' filter are asked for a few
// lines ahead, so that by the time the pass gets there they are in the
// cache. A big shop's lists' filter is larger than the cache the report's
// lines stream through. The pass takes what was worked out where its own
// address is the same bytes in the same place.
class UsersAhead {
public:
    struct Customer {
        qsizetype line = -1;
        QByteArrayView address; // as the pass finds it: untrimmed
        uint32_t userHash = 0;
        FoldedKey key; // the address folded, where a list is looked up
    };
    UsersAhead(const Report& report, const OrderPassInput& in, const SeenUsers& seen, bool folded, qsizetype from,
        qsizetype to)
        : report_(report),
          in_(in),
          seen_(seen),
          folded_(folded),
          from_(from),
          to_(to),
          aside_(to - from >= Report::kLinesForTwoCores && std::thread::hardware_concurrency() > 1),
          ring_(aside_ ? kChunk * kChunks : kRing),
          next_(from)
    {
        done_.store(from);
        passed_.store(from);
        if (aside_)
            thread_ = std::thread([this] { work(); });
    }
    ~UsersAhead()
    {
        if (!thread_.joinable())
            return;
        passed_.store(to_ + qsizetype(ring_.size()), std::memory_order_release);
        passed_.notify_one();
        thread_.join();
    }
    UsersAhead(const UsersAhead&) = delete;
    UsersAhead& operator=(const UsersAhead&) = delete;

    // The pass is at line i.
    void at(qsizetype i)
    {
        if (!aside_) {
            for (; next_ < to_ && next_ <= i + kAhead; ++next_) {
                look(next_, ring_[size_t(next_) % ring_.size()]);
                askEarly(next_);
            }
            return;
        }
        // told a chunk at a time (the pass skips lines of no order): the
        // other core may be waiting for room, or be behind
        if (i >= tellAt_) {
            passed_.store(i, std::memory_order_release);
            passed_.notify_one();
            tellAt_ = i - (i - from_) % kChunk + kChunk;
        }
        if (i >= next_)
            catchUp();
        if (i + kAhead < next_)
            askEarly(i + kAhead);
    }
    // What was worked out for line i's customer whose address the pass
    // found as address, or null: the pass never waits for the other core
    // (sharing two cores with the lines' maker, it falls behind now and
    // then), it works out a line not yet reached itself.
    const Customer* customer(qsizetype i, QByteArrayView address) const
    {
        if (i >= next_)
            return nullptr;
        const Customer& c = ring_[size_t(i) % ring_.size()];
        return c.line == i && c.address.data() == address.data() && c.address.size() == address.size() ? &c : nullptr;
    }

private:
    static constexpr qsizetype kAhead = 16;
    // a line looked at stays until the pass has passed it
    static constexpr size_t kRing = 32;
    static_assert(kRing > size_t(kAhead) + 1);
    // on another core: lines worked out and handed on a chunk at a time
    static constexpr qsizetype kChunk = 1024;
    static constexpr qsizetype kChunks = 8;

    void askEarly(qsizetype i) const
    {
        const Customer& c = ring_[size_t(i) % ring_.size()];
        if (c.line != i)
            return;
        seen_.prefetch(c.userHash);
        if (folded_)
            in_.lists->prefetch(c.key);
    }
    void look(qsizetype i, Customer& c)
    {
        c.line = -1;
        const int product = report_.productIndexOf(i);
        if (product < 0 || (!in_.allProducts && product != in_.product))
            return;
        const ReportLayout& layout = report_.layoutOf(i);
        const qsizetype ownLine = report_.orderFieldsLine(i);
        const QByteArrayView own = bytes::trimmed(report_.lineBytes(ownLine));
        if (report_.hasKeptFields(ownLine)) {
            report_.cutOrderLine(ownLine, own, cut_);
            c.address = layout.orderAddress(cut_, spill_);
        } else {
            c.address = layout.orderAddress(own, spill_); // a walk: cheaper than a cut
        }
        if (inside(c.address, spill_))
            return; // the next line's spill replaces it
        c.line = i;
        c.userHash = SeenUsers::hashOf(bytes::trimmed(c.address));
        if (folded_)
            c.key.set(c.address);
    }
    // Takes the lines the other core has worked out by now (throws what
    // working them out threw).
    void catchUp()
    {
        next_ = std::min(done_.load(std::memory_order_acquire), to_);
        if (next_ == to_ && failed_)
            std::rethrow_exception(failed_);
    }
    void work()
    {
        try {
            for (qsizetype chunk = from_; chunk < to_; chunk += kChunk) {
                // the chunk's slots held lines the pass must have passed
                const qsizetype reuse = chunk - (kChunks - 1) * kChunk;
                qsizetype passed = passed_.load(std::memory_order_acquire);
                for (; passed < reuse; passed = passed_.load(std::memory_order_acquire))
                    passed_.wait(passed, std::memory_order_acquire);
                if (passed >= to_)
                    return; // the pass stopped
                if (chunk + kChunk <= passed)
                    continue; // the pass got there first: on to where it is not yet
                const qsizetype end = std::min(chunk + kChunk, to_);
                for (qsizetype i = std::max(chunk, passed); i < end; ++i)
                    look(i, ring_[size_t(i) % ring_.size()]);
                done_.store(end, std::memory_order_release);
            }
        } catch (...) {
            failed_ = std::current_exception();
            done_.store(to_, std::memory_order_release);
        }
    }

    const Report& report_;
    const OrderPassInput& in_;
    const SeenUsers& seen_;
    const bool folded_;
    const qsizetype from_, to_;
    const bool aside_;
    std::vector<Customer> ring_;
    qsizetype next_;       // lines before it are worked out
    qsizetype tellAt_ = 0; // the pass tells where it is from this line on
    QByteArray spill_;
    CsvFields cut_;
    // on another core: the lines worked out, and the line the pass is at
    std::atomic<qsizetype> done_ {0}, passed_ {0};
    std::exception_ptr failed_;
    std::thread thread_;
};

// The batch file's and the address file's lines of the orders a pass
// takes, made on a second core from what the pass decided: a pass over a
// million orders spends as long making them as deciding. The pass hands
// them on in chunks; the values it hands on must outlive the chunk, so
// those in its scratch buffers are copied. The address lines are counted
// for their sort there too, after each chunk: that core has room, and the
// sort at the end of the run is on its critical path.
class LinesBeside {
public:
    // Not aside: each line is made at once, here (a small pass).
    LinesBeside(BatchFile& batch, LineBlock& addresses, AddressOrder& order, AddressColumns columns, bool aside)
        : batch_(batch),
          addresses_(addresses),
          order_(order),
          columns_(columns),
          aside_(aside && std::thread::hardware_concurrency() > 1)
    {
        if (!aside_)
            return;
        current_.items.reserve(kChunk);
        thread_ = std::thread([this] { work(); });
    }
    ~LinesBeside()
    {
        if (thread_.joinable()) {
            hand(true);
            thread_.join();
        }
    }
    LinesBeside(const LinesBeside&) = delete;
    LinesBeside& operator=(const LinesBeside&) = delete;

    // A copy of value that lives as long as the chunk.
    QByteArrayView kept(QByteArrayView value)
    {
        if (!aside_)
            return value; // its line is made before the buffer changes
        current_.copies.emplace_back(value.toByteArray());
        return current_.copies.back();
    }
    void add(const AccountEvent& event, const AddressValues& values)
    {
        if (!aside_) {
            make({event, values});
            return;
        }
        current_.items.push_back({event, values});
        if (current_.items.size() == kChunk)
            hand(false);
    }
    // Waits for every line to be made; throws what making them threw.
    void finish()
    {
        if (!aside_)
            return;
        hand(true);
        thread_.join();
        if (failed_)
            std::rethrow_exception(failed_);
    }

private:
    static constexpr size_t kChunk = 4096;
    static constexpr size_t kBacklog = 8; // chunks handed on, not yet taken
    struct Item {
        AccountEvent event;
        AddressValues values;
    };
    struct Chunk {
        std::vector<Item> items;
        std::deque<QByteArray> copies;
    };

    void make(const Item& item)
    {
        batch_.account(item.event);
        addresses_.beginLine();
        appendAddressLine(addresses_, columns_, item.values);
        addresses_.endLine();
    }
    void hand(bool last)
    {
        std::unique_lock lock(mutex_);
        // The pass may not run far ahead: with a ledger read on the same two
        // cores the maker fell up to 37 chunks behind (22 MB, the run's peak).
        room_.wait(lock, [this] { return full_.size() < kBacklog || stopped_; });
        full_.push_back(std::move(current_));
        done_ = last;
        current_ = Chunk();
        if (!spare_.empty()) {
            current_ = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();
        changed_.notify_one();
        current_.items.reserve(kChunk);
    }
    void work()
    {
        try {
            for (;;) {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !full_.empty() || done_; });
                if (full_.empty())
                    return;
                Chunk chunk = std::move(full_.front());
                full_.pop_front();
                lock.unlock();
                room_.notify_one();
                for (const Item& item : chunk.items)
                    make(item);
                order_.keep(addresses_);
                chunk.items.clear();
                chunk.copies.clear();
                lock.lock();
                spare_.push_back(std::move(chunk));
            }
        } catch (...) {
            failed_ = std::current_exception();
            const std::lock_guard lock(mutex_);
            stopped_ = true;
            room_.notify_one();
        }
    }

    BatchFile& batch_;
    LineBlock& addresses_;
    AddressOrder& order_;
    const AddressColumns columns_;
    const bool aside_;
    Chunk current_;
    std::mutex mutex_;
    std::condition_variable changed_, room_; // work for the maker; room for the pass
    std::deque<Chunk> full_, spare_;
    bool done_ = false, stopped_ = false; // the pass handed its last chunk; the maker failed
    std::exception_ptr failed_;
    std::thread thread_;
};

} // namespace

void passOrders(const OrderPassInput& in, qsizetype from, qsizetype to, BatchFile& batch, OrderPassOutput& out)
{
    const Report& report = *in.report;
    const CustomerLists& lists = *in.lists;
    const AddressColumns columns = addressColumns(*in.options);
    const bool dates = columns.has(AddressField::Date);
    const bool names = columns.has(AddressField::Name);
    const bool checkBlocked = !lists.blocked().isEmpty();
    const bool checkUpdates = !lists.newAddresses().isEmpty();
    const bool trackAdmitted = !lists.admitted().isEmpty();
    const bool folded = checkBlocked || checkUpdates || trackAdmitted;
    out.admittedWritten.assign(size_t(lists.admitted().size()), 0);

    FoldedKey key;
    QByteArray spillAddress, spillOrder, spillDate, spillFirst, spillLast;
    CsvFields lineCut, ownCut;
    LinesBeside lines(batch, out.addresses, out.addressOrder, columns, to - from >= Report::kLinesForTwoCores);
    const std::array<QByteArray*, 5> spills {&spillAddress, &spillOrder, &spillDate, &spillFirst, &spillLast};
    // values in the scratch buffers go to the lines' maker as copies; the
    // buffers are emptied after each line taken, so most lines have none to
    // look in
    bool spilled = false;
    const auto kept = [&](QByteArrayView value) {
        if (spilled) {
            for (const QByteArray* spill : spills) {
                if (inside(value, *spill))
                    return lines.kept(value);
            }
        }
        return value;
    };
    // One account and one address line a customer: the several rows of one
    // order, or several orders under "All", give the first order's.
    SeenUsers seen(in.allProducts ? report.orderLineCount() : report.orderLineCount(in.product), out.accounts);
    UsersAhead ahead(report, in, seen, folded, from, to);
    // The lines passed go from memory a few megabytes behind the pass (the
    // lines' maker beside it reads them a little later); a line read again
    // (an order's first row) is read again from the file.
    constexpr qsizetype kReleaseEvery = 32768;
    qsizetype releaseAt = from + 2 * kReleaseEvery;
    for (qsizetype i = from; i < to; ++i) {
        if (i == releaseAt) {
            report.releaseLinesBefore(i - kReleaseEvery);
            releaseAt += kReleaseEvery;
        }
        const int product = report.productIndexOf(i);
        if (product < 0 || (!in.allProducts && product != in.product))
            continue;
        ahead.at(i);
        const QByteArrayView line = bytes::trimmed(report.lineBytes(i));
        const ReportLayout& layout = report.layoutOf(i);
        // the order's own fields: this line, or its order's first row
        const qsizetype own = report.orderFieldsLine(i);
        report.cutOrderLine(i, line, lineCut);
        if (own != i)
            report.cutOrderLine(own, bytes::trimmed(report.lineBytes(own)), ownCut);
        const CsvFields& fields = own == i ? lineCut : ownCut;
        QByteArrayView date;
        if (dates)
            date = layout.orderDate(fields, spillDate);
        QByteArrayView address = layout.orderAddress(fields, spillAddress);
        const QByteArrayView user = bytes::trimmed(address);
        const UsersAhead::Customer* known = ahead.customer(i, address);
        if (seen.seen(user, known ? known->userHash : SeenUsers::hashOf(user)))
            continue;
        // most customers are on no list: one filter test settles that
        bool listed = false;
        const FoldedKey* folding = &key;
        if (folded) {
            if (known)
                folding = &known->key;
            else
                key.set(address);
            listed = lists.mayHold(*folding);
        }
        if (listed && checkBlocked && lists.isBlocked(*folding)) {
            seen.blocked(user, spanOf(line, fields.record()));
            out.events.add({AccountChange::Blocked, i});
            continue;
        }
        const QByteArrayView order = layout.field(lineCut, layout.order, spillOrder);
        // the account is made for the address of the report ...
        AccountEvent event {AccountChange::FromReport, i, address, order};

        // ... the notification goes to the newer one
        if (listed && checkUpdates) {
            const qsizetype k = lists.updateIndex(*folding);
            if (k >= 0) {
                address = lists.newAddresses().bytesAt(k);
                event.change = AccountChange::AddressChanged;
                if (trackAdmitted) {
                    key.set(address);
                    folding = &key;
                    listed = true; // the new address is looked up in full
                }
            }
        }
        out.events.add(event);
        out.accounts.add(event.user, event.password);
        seen.taken(out.accounts.size() - 1);
        if (listed && trackAdmitted) {
            const qsizetype k = lists.admittedIndex(*folding);
            if (k >= 0)
                out.admittedWritten[size_t(k)] = 1;
        }

        QByteArrayView first, last;
        if (names)
            layout.names(fields, spillFirst, spillLast, &first, &last);
        spilled = std::any_of(spills.begin(), spills.end(), [](const QByteArray* spill) { return !spill->isEmpty(); });
        event.user = kept(event.user);
        event.password = kept(event.password);
        lines.add(event, {kept(address), kept(order), kept(date), kept(first), kept(last)});
        if (spilled) {
            for (QByteArray* spill : spills)
                spill->resize(0); // its capacity stays
        }
    }
    lines.finish();
    report.releaseLinesBefore(to);
}

AdmittedCandidates admittedCandidates(const CustomerLists& lists, const QString& product)
{
    AdmittedCandidates candidates;
    const qsizetype count = lists.admitted().size();
    if (count == 0)
        return candidates;
    // Entries for the product (or "All") in file order; the lists' bytes as
    // they are, no copies.
    const QByteArray wanted = CustomerLists::upperProduct(product);
    candidates.entries.reserve(size_t(count));
    // per first entry of an address ignoring case: 0, 1 or 2 (more) entries
    // htpasswd takes
    std::vector<uint8_t> takenOf(size_t(count), 0);
    for (qsizetype entry = 0; entry < count; ++entry) {
        if (!lists.admitsUpperProduct(entry, wanted))
            continue;
        const QByteArrayView address = lists.admitted().bytesAt(entry);
        const QByteArrayView order = lists.admittedOrders().bytesAt(entry);
        const qsizetype first = lists.firstAdmittedLike(entry);
        const bool refused = order.isEmpty() || accountValueFault(address, order) != AccountValueFault::None;
        candidates.entries.push_back({uint32_t(entry), int32_t(first), refused});
        if (!refused && first >= 0 && takenOf[size_t(first)] < 2)
            ++takenOf[size_t(first)];
    }
    // An address listed twice byte for byte is taken once, from its first
    // entry htpasswd takes. Such twins are also equal ignoring case: only
    // those that share their first entry with another are looked at. (Whether
    // an order wrote the address holds for all of them alike.)
    std::unordered_set<std::string_view> twins;
    size_t kept = 0;
    for (const AdmittedCandidates::Entry& c : candidates.entries) {
        if (!c.refused && !(c.first >= 0 && takenOf[size_t(c.first)] < 2)) {
            const QByteArrayView address = lists.admitted().bytesAt(c.entry);
            if (!twins.insert(std::string_view(address.data(), size_t(address.size()))).second)
                continue;
        }
        candidates.entries[kept++] = c;
    }
    candidates.entries.resize(kept);
    return candidates;
}

void passAdmitted(
    const OrderPassInput& in, const AdmittedCandidates& candidates, BatchFile& batch, OrderPassOutput& out)
{
    const CustomerLists& lists = *in.lists;
    const AddressColumns listed = addressColumns(*in.options).listedCustomer();
    for (const AdmittedCandidates::Entry& c : candidates.entries) {
        if (c.first >= 0 && out.admittedWritten[size_t(c.first)])
            continue;
        if (c.refused) {
            out.admittedRefused.push_back(c.entry);
            continue;
        }
        const QByteArrayView address = lists.admitted().bytesAt(c.entry);
        const QByteArrayView order = lists.admittedOrders().bytesAt(c.entry);
        take({AccountChange::Added, c.entry, address, order}, batch, out);
        out.addresses.beginLine();
        appendAddressLine(out.addresses, listed, {address, order, {}, {}, {}});
        out.addresses.endLine();
    }
}

} // namespace og
