#pragma once
// The headers a vendor may add to every message: where replies go, the mark
// of a message that no person sent (so vacation replies stay away), and the
// way out of the vendor's mailing. Each is a setting, off by default.

#include "mail/WireMessage.h"
#include "mailer/MailerSettings.h"

namespace og {

// The problem with the settings' reply address or unsubscribe addresses
// (each "mailto:" or "https:", blanks between them), or an empty text.
QString checkMessageHeaders(const MailerSettings& settings);

// Reply-To and Auto-Submitted as the settings ask.
void addMessageHeaders(TWireMessage& message, const MailerSettings& settings);

// List-Unsubscribe from the unsubscribe addresses (one customer's fields
// already filled in, their values percent-encoded), List-Id from the
// sender's address (set From first), and with an "https:" one
// List-Unsubscribe-Post for a one-click unsubscribe. Nothing for an empty
// text.
void addListUnsubscribe(TWireMessage& message, const QString& addresses);

} // namespace og
