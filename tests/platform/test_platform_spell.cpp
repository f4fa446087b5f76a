// The spelling checker over the installed English dictionary and over a
// small word list of the test's own.
#include "platform/VSSpell.h"

#include <gtest/gtest.h>

using namespace og;

namespace {

class WordList : public SpellDictionary {
public:
    explicit WordList(QStringList words)
        : words_(std::move(words))
    {
    }
    bool check(const QString& word) override { return words_.contains(word); }
    QStringList suggest(const QString& word) override { return {word.toUpper()}; }

private:
    QStringList words_;
};

class Script : public SpellDialogue {
public:
    QList<SpellAnswer> answers;
    QList<SpellQuestion> questions;
    SpellAnswer ask(const SpellQuestion& question) override
    {
        questions << question;
        return answers.isEmpty() ? SpellAnswer {SpellAnswer::Action::Ignore, {}} : answers.takeFirst();
    }
};

} // namespace

TEST(Spell, EnglishDictionaryFindsTheMisspeltWordAndSuggestsTheFix)
{
    TVSSpell speller;
    Script script;
    script.answers = {{SpellAnswer::Action::Replace, QStringLiteral("received")}};
    speller.setDialogue(&script);
    speller.setCheckText(QStringLiteral("We recieved your order, didn't we?"));
    ASSERT_EQ(script.questions.size(), 1);
    EXPECT_EQ(script.questions[0].word, QStringLiteral("recieved"));
    EXPECT_EQ(script.questions[0].position, 3);
    EXPECT_TRUE(script.questions[0].suggestions.contains(QStringLiteral("received")));
    EXPECT_EQ(speller.Text(), QStringLiteral("We received your order, didn't we?"));
    EXPECT_EQ(speller.WordCount, 6);
    EXPECT_EQ(speller.ReplaceCount, 1);
}

TEST(Spell, CountersGrowOverSeveralTextsUntilReset)
{
    TVSSpell speller(std::make_unique<WordList>(QStringList {"one", "two"}));
    speller.setCheckText(QStringLiteral("one two"));
    speller.setCheckText(QStringLiteral("two, 42 one!"));
    EXPECT_EQ(speller.WordCount, 4) << "numbers are not words";
    speller.WordCount = 0;
    speller.setCheckText(QString());
    EXPECT_EQ(speller.WordCount, 0);
    EXPECT_EQ(speller.Text(), QString());
}

TEST(Spell, AnswersReplaceOrIgnoreOnceOrEverywhereAndCancelKeepsCorrections)
{
    TVSSpell speller(std::make_unique<WordList>(QStringList {"ok"}));
    Script script;
    speller.setDialogue(&script);
    script.answers = {{SpellAnswer::Action::ReplaceAll, QStringLiteral("ok")}, {SpellAnswer::Action::IgnoreAll, {}},
        {SpellAnswer::Action::Ignore, {}}, {SpellAnswer::Action::Replace, QStringLiteral("fine")},
        {SpellAnswer::Action::Cancel, {}}};
    speller.setCheckText(QStringLiteral("oj zz oj zz qq qq ww oj"));
    // oj -> ok everywhere, zz ignored everywhere, first qq ignored, second
    // replaced, ww cancels: the last oj is left unchecked.
    EXPECT_EQ(speller.Text(), QStringLiteral("ok zz ok zz qq fine ww oj"));
    EXPECT_EQ(speller.ReplaceCount, 3);
    EXPECT_EQ(speller.WordCount, 7);
    QStringList asked;
    for (const SpellQuestion& q : script.questions)
        asked << q.word;
    EXPECT_EQ(asked, (QStringList {"oj", "zz", "qq", "qq", "ww"}));
    EXPECT_EQ(script.questions[3].text, QStringLiteral("ok zz ok zz qq qq ww oj"))
        << "the question shows the text with the corrections so far";

    // Session lists outlive one text.
    script.answers.clear();
    script.questions.clear();
    speller.setCheckText(QStringLiteral("oj zz"));
    EXPECT_EQ(speller.Text(), QStringLiteral("ok zz"));
    EXPECT_TRUE(script.questions.isEmpty());
}

TEST(Spell, MissingDictionaryIsAClearErrorNotACrash)
{
    try {
        TVSSpell speller(QStringLiteral("xx_NOWHERE"));
        speller.setCheckText(QStringLiteral("text"));
        FAIL() << "a missing dictionary must be reported";
    } catch (const SpellError& error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("xx_NOWHERE"))) << error.message().toStdString();
    }
}

TEST(Spell, FieldNamesAreNoWordsButTheirDefaultsAre)
{
    TVSSpell speller(std::make_unique<WordList>(QStringList {"Dear", "order", "Customer"}));
    Script script;
    speller.setDialogue(&script);
    speller.setCheckText(QStringLiteral("Dear {{name|Custmer}}, {{licence}} {{{{order}} {{unclosed"));
    QStringList asked;
    for (const SpellQuestion& question : script.questions)
        asked << question.word;
    EXPECT_EQ(asked, (QStringList {"Custmer", "unclosed"}));
}

TEST(Spell, AddressesAndLinksAreNoWords)
{
    TVSSpell speller(std::make_unique<WordList>(QStringList {"see", "or", "write", "to"}));
    Script script;
    speller.setDialogue(&script);
    speller.setCheckText(QStringLiteral("see https://dl.example.com/v2 or <www.exmple.com/a>, [it](http://x.io) "
                                        "write to hepl@exmple.com. nto@"));
    QStringList asked;
    for (const SpellQuestion& question : script.questions)
        asked << question.word;
    EXPECT_EQ(asked, (QStringList {"it", "nto"}));
}
