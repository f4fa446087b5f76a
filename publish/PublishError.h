#pragma once
// The one family the publishing floor throws: a message for the vendor that
// names the server, file or address and, where there is one, the reason and
// what to do next. It never holds a password.

#include <QString>
#include <stdexcept>

namespace og {

class PublishError : public std::runtime_error {
public:
    explicit PublishError(const QString& message)
        : std::runtime_error(message.toStdString())
    {
    }
    QString message() const { return QString::fromUtf8(what()); }
};

// The server offered a host key that the known hosts file lacks. Nothing was
// sent; the vendor may compare the fingerprint with the server's own and
// accept it (it is then added to the known hosts file).
class UnknownHostKey : public PublishError {
public:
    UnknownHostKey(const QString& message, const QString& fingerprint)
        : PublishError(message),
          fingerprint_(fingerprint)
    {
    }
    // "SHA256:" and the key's hash in Base64, as ssh-keygen -l prints it.
    const QString& fingerprint() const { return fingerprint_; }

private:
    QString fingerprint_;
};

} // namespace og
