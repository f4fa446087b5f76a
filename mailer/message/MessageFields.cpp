#include "mailer/message/MessageFields.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

namespace og {

namespace {

const QString Open = QStringLiteral("{{");
const QString Close = QStringLiteral("}}");
const QString AddressName = QStringLiteral("address");
const QString ProductName = QStringLiteral("product");

// The names the first job's columns go by, in the order of AddressField.
const char* const FirstJobNames[] = {"order", "date", "name"};

QString braced(const QString& name)
{
    return Open + name + Close;
}

} // namespace

AddressFields::AddressFields(
    const QString& addressFile, const QStringList& header, std::optional<AddressColumns> columns)
    : addressFile_(addressFile)
{
    QString base = QFileInfo(addressFile).completeBaseName();
    if (base.startsWith(QLatin1String("email_"), Qt::CaseInsensitive))
        base.remove(0, 6);
    product_ = base;
    names_ = header;
    if (!header.isEmpty() || !columns)
        return;
    names_ = {AddressName};
    for (int f = 0; f < 3; ++f)
        if (columns->has(AddressField(f)))
            names_ << QLatin1String(FirstJobNames[f]);
}

std::optional<int> AddressFields::column(const QString& name) const
{
    for (int k = 0; k < names_.size(); ++k)
        if (!names_[k].isEmpty() && names_[k].compare(name, Qt::CaseInsensitive) == 0)
            return k;
    if (name.compare(AddressName, Qt::CaseInsensitive) == 0)
        return 0;
    if (name.compare(ProductName, Qt::CaseInsensitive) == 0)
        return Product;
    bool number = false;
    const int position = name.toInt(&number);
    if (number && position >= 1 && !name.startsWith(u'+'))
        return position - 1;
    return std::nullopt;
}

QStringList AddressFields::names() const
{
    QStringList names {AddressName, ProductName};
    for (const QString& name : names_)
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive))
            names << name;
    names << QStringLiteral("1, 2, ... (the columns by position)");
    return names;
}

QString AddressFields::value(const AddressRecord& customer, int column)
{
    if (column == 0)
        return customer.address;
    return column <= customer.fields.size() ? customer.fields[column - 1] : QString();
}

FieldText::FieldText(const QString& text)
    : text_(text)
{
    Part part;
    qsizetype at = 0;
    for (qsizetype open; (open = text.indexOf(Open, at)) >= 0;) {
        part.literal += QStringView(text).mid(at, open - at);
        if (QStringView(text).mid(open + 2).startsWith(Open)) {
            part.literal += Open;
            at = open + 4;
            continue;
        }
        const qsizetype close = text.indexOf(Close, open + 2);
        if (close < 0) {
            problem_ =
                QStringLiteral("\"{{\" without its \"}}\" in \"%1\" (write \"{{{{\" for a literal \"{{\")").arg(text);
            parts_.clear();
            fields_.clear();
            return;
        }
        const QString inside = text.mid(open + 2, close - open - 2);
        const qsizetype bar = inside.indexOf(u'|');
        Field field;
        field.name = inside.left(bar).trimmed();
        field.hasFallback = bar >= 0;
        if (field.hasFallback)
            field.fallback = inside.mid(bar + 1);
        part.field = int(fields_.size());
        fields_ << field;
        parts_ << std::move(part);
        part = Part();
        at = close + 2;
    }
    part.literal += QStringView(text).mid(at);
    parts_ << std::move(part);
}

QStringList FieldText::names() const
{
    QStringList names;
    for (const Field& field : fields_)
        if (!names.contains(field.name))
            names << field.name;
    return names;
}

void FieldText::bind(const AddressFields& fields, QStringList* unknown)
{
    product_ = fields.product();
    for (Field& field : fields_) {
        const std::optional<int> column = fields.column(field.name);
        field.column = column.value_or(0);
        if (!column && !unknown->contains(field.name))
            *unknown << field.name;
    }
}

QStringList FieldText::lacking(const AddressRecord& customer) const
{
    QStringList names;
    for (const Field& field : fields_)
        if (!field.hasFallback && field.column != AddressFields::Product &&
            AddressFields::value(customer, field.column).isEmpty() && !names.contains(field.name))
            names << field.name;
    return names;
}

QString FieldText::fill(const AddressRecord& customer, const FieldTransform& transform) const
{
    if (fields_.isEmpty())
        return text_;
    QString out;
    out.reserve(text_.size() + 32 * fields_.size());
    for (const Part& part : parts_) {
        out += part.literal;
        if (part.field < 0)
            continue;
        const Field& field = fields_[part.field];
        QString value =
            field.column == AddressFields::Product ? product_ : AddressFields::value(customer, field.column);
        if (value.isEmpty())
            value = field.fallback;
        out += transform ? transform(value) : value;
    }
    return out;
}

QStringList checkFields(const QList<FieldText*>& texts, const AddressFields& fields,
    const QList<AddressRecord>& customers, const QString& addressFile)
{
    QStringList problems, unknown, lacking;
    for (FieldText* text : texts) {
        if (!text->syntaxProblem().isEmpty())
            problems << text->syntaxProblem();
        text->bind(fields, &unknown);
    }
    // The columns the first job writes on request: the main window's option
    // that adds each.
    static const QHash<QString, QString> options {{QStringLiteral("order"), QStringLiteral("Include Order/Reg. #")},
        {QStringLiteral("date"), QStringLiteral("Include Order Date")},
        {QStringLiteral("name"), QStringLiteral("Include Customer Name")}};
    for (const QString& name : std::as_const(unknown)) {
        const QString option = options.value(name.toLower());
        problems << QStringLiteral("Unknown field %1: %2 offers %3%4")
                        .arg(braced(name), QFileInfo(addressFile).fileName(), fields.names().join(QStringLiteral(", ")),
                            option.isEmpty() ? QString()
                                             : QStringLiteral(" (tick \"%1\" in the main window and make the "
                                                              "address file again)")
                                                   .arg(option));
    }
    if (!problems.isEmpty())
        return problems;
    for (const AddressRecord& customer : customers)
        for (const FieldText* text : texts)
            for (const QString& name : text->lacking(customer))
                if (!lacking.contains(name)) {
                    lacking << name;
                    problems << QStringLiteral("Line %1 of %2 (%3) has no value for %4: give it a default, as in "
                                               "{{%5|...}}, or fill in the file")
                                    .arg(customer.line)
                                    .arg(QDir::toNativeSeparators(addressFile), customer.address, braced(name), name);
                }
    return problems;
}

} // namespace og
