#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace og {

// The dictionary could not be opened (no Enchant provider or no word list
// for the language).
class SpellError : public std::runtime_error {
public:
    explicit SpellError(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString message() const { return QString::fromUtf8(what()); }
};

// A word list the checker asks. Enchant in the program; tests may hand in
// their own.
class SpellDictionary {
public:
    virtual ~SpellDictionary() = default;
    virtual bool check(const QString& word) = 0;
    virtual QStringList suggest(const QString& word) = 0;
};

// Opens the Enchant dictionary for a language tag ("en_US"). Throws SpellError.
std::unique_ptr<SpellDictionary> openEnchantDictionary(const QString& language);

// One unknown word as the vendor sees it: the whole text being checked (with
// the corrections made so far) and where the word stands in it.
struct SpellQuestion {
    QString text;
    qsizetype position = 0;
    QString word;
    QStringList suggestions;
};

struct SpellAnswer {
    enum class Action { Replace, ReplaceAll, Ignore, IgnoreAll, Cancel };
    Action action = Action::Ignore;
    QString replacement; // for Replace and ReplaceAll
};

// Asks the vendor what to do with an unknown word: the spelling dialog in the
// program, a script in tests.
class SpellDialogue {
public:
    virtual ~SpellDialogue() = default;
    virtual SpellAnswer ask(const SpellQuestion& question) = 0;
};

// The spelling checker of the mailer. Assigning a text to CheckText checks it
// word by word, asking the dialogue about each unknown word; afterwards Text
// holds the text with the corrections, WordCount has grown by the words
// checked and ReplaceCount by the words replaced. Cancel ends the check of
// that text, keeping the corrections made so far.
class TVSSpell {
public:
    // The dictionary is opened on first use, so a missing one is reported when
    // the vendor asks for a check, not when the window is built.
    explicit TVSSpell(QString language = QStringLiteral("en_US"));
    TVSSpell(std::unique_ptr<SpellDictionary> dictionary);
    ~TVSSpell();

    void setDialogue(SpellDialogue* dialogue) { dialogue_ = dialogue; }

    int32_t ReplaceCount = 0;
    int32_t WordCount = 0;

    // Throws SpellError when no dictionary can be opened.
    void setCheckText(const QString& text);
    QString Text() const { return text_; }

    // Words the vendor chose to ignore or replace everywhere stay so for the
    // life of the checker, like the control's own session lists.
    const QSet<QString>& ignoredWords() const { return ignoreAll_; }

private:
    SpellDictionary& dictionary();

    QString language_;
    std::unique_ptr<SpellDictionary> dictionary_;
    SpellDialogue* dialogue_ = nullptr;
    QString text_;
    QSet<QString> ignoreAll_;
    QHash<QString, QString> replaceAll_;
};

} // namespace og
