#pragma once
// How a connection to the mail server is secured, on its own so that the
// settings of a run can name it without the SMTP client.

namespace og {

// Automatic: implicit TLS on port 465, else STARTTLS when offered, else plain
// text. StartTls: STARTTLS required. Tls: TLS from the first byte. None:
// plain text.
enum class TSmtpSecurity { Automatic, StartTls, Tls, None };

// The port a server without one gets: 465 for Tls, 587 for StartTls, 25
// otherwise (so older settings mean what they meant).
inline int DefaultSmtpPort(TSmtpSecurity security)
{
    switch (security) {
    case TSmtpSecurity::Tls:
        return 465;
    case TSmtpSecurity::StartTls:
        return 587;
    default:
        return 25;
    }
}

} // namespace og
