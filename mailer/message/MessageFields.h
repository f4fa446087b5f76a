#pragma once
// Fields in the texts of a message: "{{name}}" stands for that customer's
// value from the address file, "{{name|Customer}}" gives a default for an
// empty one, "{{{{" writes "{{". A text is parsed once a run and filled once
// a customer; a text without "{{" goes out exactly as typed.

#include "common/AddressFile.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace og {

// The names an address file offers and which column each reads. Column 0 is
// the address, column k the k-th field after it; {{1}} is the first column.
class AddressFields {
public:
    // addressFile: its name gives {{product}} ("email_<product>.txt");
    // header: the file's header row, if any (addressHeader); columns: what
    // the first job recorded for the file, if anything.
    AddressFields(const QString& addressFile, const QStringList& header, std::optional<AddressColumns> columns);

    // A field's value source: a column (>= 0), or -1 with the product.
    static constexpr int Product = -1;
    std::optional<int> column(const QString& name) const;
    const QString& product() const { return product_; }
    const QString& addressFile() const { return addressFile_; }
    // The names offered, for the message about an unknown one.
    QStringList names() const;

    // A column's value for a customer; empty when their line lacks it.
    static QString value(const AddressRecord& customer, int column);

private:
    QString addressFile_;
    QString product_;
    QStringList names_; // by column; empty where a column has no name
};

// Applied to every value filled in (escaping for a text that is not plain).
using FieldTransform = std::function<QString(const QString& value)>;

class FieldText {
public:
    FieldText() = default;
    // Parses text; a "{{" without its "}}" is a syntaxProblem().
    explicit FieldText(const QString& text);

    const QString& text() const { return text_; }
    bool hasFields() const { return !fields_.isEmpty(); }
    const QString& syntaxProblem() const { return problem_; }
    // The names used, in order of first use.
    QStringList names() const;
    // The text before the first field (all of it without fields).
    QString leadingText() const { return parts_.isEmpty() ? text_ : parts_.first().literal; }
    // Whether the text is one field and nothing else, as "{{file}}".
    bool isFieldAlone() const
    {
        return parts_.size() == 2 && parts_[0].literal.isEmpty() && parts_[1].literal.isEmpty();
    }

    // Resolves every name against the file; the unknown ones are appended
    // to *unknown. Filling needs this first.
    void bind(const AddressFields& fields, QStringList* unknown);
    // The names without a default whose value this customer lacks.
    QStringList lacking(const AddressRecord& customer) const;
    // The text with this customer's values (transformed when a transform is given).
    QString fill(const AddressRecord& customer, const FieldTransform& transform = {}) const;

private:
    struct Field {
        QString name;
        QString fallback; // the default, when hasFallback
        bool hasFallback = false;
        int column = 0; // after bind()
    };
    struct Part {
        QString literal;
        int field = -1; // index into fields_ after the literal, or none
    };
    QString text_;
    QString problem_;
    QString product_;
    QList<Part> parts_;
    QList<Field> fields_;
};

// The checks of a run's texts against its customers before anything is
// sent: texts that cannot be parsed, names the file does not offer, and for
// each field without a default that some lines lack, the first such line.
// One text a problem; none when all is well.
QStringList checkFields(const QList<FieldText*>& texts, const AddressFields& fields,
    const QList<AddressRecord>& customers, const QString& addressFile);

} // namespace og
