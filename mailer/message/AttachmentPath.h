#pragma once
// A customer's own attachment: the file an attachment path with fields
// ("licences/{{order}}.txt") names for them. A value comes from the address
// file, which holds a buyer's own text, so it may only pick a name inside
// the folder the vendor typed: never a folder, a parent, a home or an option.

#include "common/AddressFile.h"
#include "mailer/message/MessageFields.h"

#include <QString>

namespace og {

// What the vendor's settings let the fields of an attachment path do.
struct AttachmentRules {
    // A relative path is read from here: the address file's folder.
    QString baseFolder;
    // A path that is a field alone ("{{file}}") takes a whole absolute path
    // from the address file (--attach-absolute, [options] attachabsolute).
    bool absoluteValues = false;
};

// Why a field's value may not be part of a file's name ("holds \"/\"", ...);
// empty when it may.
QString pathValueProblem(const QString& value);

struct ResolvedAttachment {
    QString path;    // the file to attach (it may be missing)
    QString refusal; // why this customer gets no file: empty when allowed
};

// The file pattern names for this customer, or the refusal: a value that
// pathValueProblem() refuses, or a file that lies outside the folder of the
// pattern's fixed part once symbolic links are followed. pattern must be
// bound (FieldText::bind).
ResolvedAttachment resolveAttachment(
    const FieldText& pattern, const AddressRecord& customer, const AttachmentRules& rules);

} // namespace og
