#pragma once
// The MIME type an attachment is sent with, judged by Qt's view of the
// system's shared MIME database (name and content).

#include <QString>

#include <string>

namespace og {

// "application/pdf", "image/png", ...; a text file (any type deriving from
// text/plain) that is valid UTF-8 gets "; charset=utf-8"; a text file that is
// not, or a file of unknown type, is "application/octet-stream". An empty
// file is typed by its name's extension alone.
std::string attachmentType(const QString& path);

} // namespace og
