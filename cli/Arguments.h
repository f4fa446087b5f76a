#pragma once
// The one way ordergate-cli reads a subcommand's arguments, so every
// subcommand accepts the same forms: "--opt value" and "--opt=value", "--"
// before operands that start with "-", "-" as an operand (standard input),
// "-h"/"--help" anywhere before "--".

#include <QString>
#include <QStringList>

#include <vector>

namespace og::cli {

class ArgumentParser {
public:
    // An option with one value; given twice is an error. given (optional)
    // tells whether it appeared.
    void value(const QString& name, QString* target, bool* given = nullptr);
    // An option with a value that may be repeated; each one is appended.
    void values(const QString& name, QStringList* target);
    // An option without a value.
    void flag(const QString& name, bool* target);
    // The operands, at most max of them; more is the error tooMany.
    void operands(QStringList* target, qsizetype max, const QString& tooMany);

    // False with a one-line reason in error for a malformed command line.
    // "-h" or "--help" stops the parse and sets helpAsked().
    bool parse(const QStringList& args, QString* error);
    bool helpAsked() const { return help_; }

private:
    enum class Kind { Value, Values, Flag };
    struct Option {
        QString name;
        Kind kind;
        void* target;
        bool* given;
    };
    const Option* find(const QString& name) const;

    std::vector<Option> options_;
    QStringList* operands_ = nullptr;
    qsizetype maxOperands_ = 0;
    QString tooMany_;
    bool help_ = false;
};

} // namespace og::cli
