#include "cli/Arguments.h"

#include <QSet>

namespace og::cli {

void ArgumentParser::value(const QString& name, QString* target, bool* given)
{
    options_.push_back({name, Kind::Value, target, given});
}

void ArgumentParser::values(const QString& name, QStringList* target)
{
    options_.push_back({name, Kind::Values, target, nullptr});
}

void ArgumentParser::flag(const QString& name, bool* target)
{
    options_.push_back({name, Kind::Flag, target, nullptr});
}

void ArgumentParser::operands(QStringList* target, qsizetype max, const QString& tooMany)
{
    operands_ = target;
    maxOperands_ = max;
    tooMany_ = tooMany;
}

const ArgumentParser::Option* ArgumentParser::find(const QString& name) const
{
    for (const Option& option : options_) {
        if (option.name == name)
            return &option;
    }
    return nullptr;
}

bool ArgumentParser::parse(const QStringList& args, QString* error)
{
    QSet<QString> seen;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || arg == u"-" || !arg.startsWith(u'-')) {
            if (!operands_ || operands_->size() >= maxOperands_) {
                *error = operands_ ? tooMany_ : QStringLiteral("unexpected argument %1").arg(arg);
                return false;
            }
            operands_->append(arg);
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        if (arg == u"-h" || arg == u"--help") {
            help_ = true;
            return true;
        }
        const qsizetype eq = arg.indexOf(u'=');
        const QString name = eq < 0 ? arg : arg.first(eq);
        const Option* option = find(name);
        if (!option) {
            *error = QStringLiteral("unknown option %1").arg(arg);
            return false;
        }
        if (option->kind == Kind::Flag) {
            if (eq >= 0) {
                *error = QStringLiteral("%1 takes no value").arg(name);
                return false;
            }
            *static_cast<bool*>(option->target) = true;
            continue;
        }
        QString value;
        if (eq >= 0) {
            value = arg.sliced(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            *error = QStringLiteral("%1 needs a value").arg(name);
            return false;
        }
        if (option->kind == Kind::Values) {
            static_cast<QStringList*>(option->target)->append(value);
            continue;
        }
        if (seen.contains(name)) {
            *error = QStringLiteral("%1 given twice").arg(name);
            return false;
        }
        seen.insert(name);
        *static_cast<QString*>(option->target) = value;
        if (option->given)
            *option->given = true;
    }
    return true;
}

} // namespace og::cli
