#include "platform/VSSpell.h"

#include <algorithm>
#include <enchant.h>

namespace og {

namespace {

class EnchantDictionary final : public SpellDictionary {
public:
    explicit EnchantDictionary(const QString& language)
    {
        broker_ = enchant_broker_init();
        if (!broker_)
            throw SpellError(QStringLiteral("The spelling checker cannot be started."));
        const QByteArray tag = language.toUtf8();
        dict_ = enchant_broker_request_dict(broker_, tag.constData());
        if (!dict_) {
            enchant_broker_free(broker_);
            throw SpellError(QStringLiteral("No spelling dictionary for %1 is installed; "
                                            "install one (for example the hunspell-en-us package) to check spelling")
                                 .arg(language));
        }
    }
    ~EnchantDictionary() override
    {
        enchant_broker_free_dict(broker_, dict_);
        enchant_broker_free(broker_);
    }

    bool check(const QString& word) override
    {
        const QByteArray bytes = word.toUtf8();
        return enchant_dict_check(dict_, bytes.constData(), bytes.size()) == 0;
    }

    QStringList suggest(const QString& word) override
    {
        const QByteArray bytes = word.toUtf8();
        size_t count = 0;
        char** list = enchant_dict_suggest(dict_, bytes.constData(), bytes.size(), &count);
        QStringList result;
        for (size_t i = 0; i < count; ++i)
            result << QString::fromUtf8(list[i]);
        if (list)
            enchant_dict_free_string_list(dict_, list);
        return result;
    }

private:
    EnchantBroker* broker_ = nullptr;
    EnchantDict* dict_ = nullptr;
};

bool isWordLetter(QChar c)
{
    return c.isLetter() || c.category() == QChar::Mark_NonSpacing;
}

// The end of the word starting at `begin`: letters, with single apostrophes
// inside ("don't") belonging to the word.
qsizetype wordEnd(const QString& text, qsizetype begin)
{
    qsizetype end = begin;
    while (end < text.size()) {
        if (isWordLetter(text.at(end))) {
            ++end;
        } else if ((text.at(end) == u'\'' || text.at(end) == QChar(0x2019)) && end + 1 < text.size() &&
            isWordLetter(text.at(end + 1))) {
            end += 2;
        } else {
            break;
        }
    }
    return end;
}

// A message field's name ("{{order}}", "{{name|Customer}}") is no word: where
// one begins at pos, the end of its name (its default is checked); "{{{{"
// is a literal "{{" and is passed as a whole. Else pos.
qsizetype afterFieldName(const QString& text, qsizetype pos)
{
    if (!QStringView(text).mid(pos).startsWith(u"{{"))
        return pos;
    if (QStringView(text).mid(pos + 2).startsWith(u"{{"))
        return pos + 4;
    const qsizetype close = text.indexOf(u"}}", pos + 2);
    if (close < 0)
        return pos;
    const qsizetype bar = text.indexOf(u'|', pos + 2);
    return bar >= 0 && bar < close ? bar + 1 : close + 2;
}

// An address or a link ("support@example.com", "https://example.com/a",
// "www.example.com") is no text to check: where one begins at pos, its end;
// else pos. It begins after a blank or a bracket and ends before one.
qsizetype afterAddressOrLink(const QString& text, qsizetype pos)
{
    static const QString Openers = QStringLiteral("<([\"'");
    static const QString Enders = QStringLiteral("<>()[]\"");
    if (pos > 0 && !text.at(pos - 1).isSpace() && !Openers.contains(text.at(pos - 1)))
        return pos;
    qsizetype end = pos;
    while (end < text.size() && !text.at(end).isSpace() && !Enders.contains(text.at(end)))
        ++end;
    const QStringView token = QStringView(text).mid(pos, end - pos);
    const qsizetype at = token.indexOf(u'@');
    const bool address = at > 0 && token.indexOf(u'.', at) > at + 1;
    const bool link = token.contains(u"://") || token.startsWith(u"www.", Qt::CaseInsensitive) ||
        token.startsWith(u"mailto:", Qt::CaseInsensitive);
    return address || link ? end : pos;
}

} // namespace

std::unique_ptr<SpellDictionary> openEnchantDictionary(const QString& language)
{
    return std::make_unique<EnchantDictionary>(language);
}

TVSSpell::TVSSpell(QString language)
    : language_(std::move(language))
{
}

TVSSpell::TVSSpell(std::unique_ptr<SpellDictionary> dictionary)
    : dictionary_(std::move(dictionary))
{
}

TVSSpell::~TVSSpell() = default;

SpellDictionary& TVSSpell::dictionary()
{
    if (!dictionary_)
        dictionary_ = openEnchantDictionary(language_);
    return *dictionary_;
}

void TVSSpell::setCheckText(const QString& text)
{
    SpellDictionary& dict = dictionary();
    text_ = text;
    qsizetype pos = 0;
    while (pos < text_.size()) {
        if (const qsizetype after = std::max(afterFieldName(text_, pos), afterAddressOrLink(text_, pos)); after > pos) {
            pos = after;
            continue;
        }
        if (!isWordLetter(text_.at(pos))) {
            ++pos;
            continue;
        }
        const qsizetype end = wordEnd(text_, pos);
        const QString word = text_.mid(pos, end - pos);
        ++WordCount;

        QString replacement;
        bool replace = false;
        if (replaceAll_.contains(word)) {
            replacement = replaceAll_.value(word);
            replace = true;
        } else if (!ignoreAll_.contains(word) && !dict.check(word) && dialogue_) {
            const SpellAnswer answer = dialogue_->ask({text_, pos, word, dict.suggest(word)});
            switch (answer.action) {
            case SpellAnswer::Action::Cancel:
                return;
            case SpellAnswer::Action::Ignore:
                break;
            case SpellAnswer::Action::IgnoreAll:
                ignoreAll_.insert(word);
                break;
            case SpellAnswer::Action::ReplaceAll:
                replaceAll_.insert(word, answer.replacement);
                replacement = answer.replacement;
                replace = true;
                break;
            case SpellAnswer::Action::Replace:
                replacement = answer.replacement;
                replace = true;
                break;
            }
        }
        if (replace && replacement != word) {
            text_.replace(pos, end - pos, replacement);
            ++ReplaceCount;
            pos += replacement.size();
        } else {
            pos = end;
        }
    }
}

} // namespace og
