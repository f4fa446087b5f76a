#pragma once
// The checks of "Send Now" and of `ordergate-cli send` before a run starts.

#include "mailer/MailerInput.h"

#include <QString>

namespace og {

// The checks, in order (a port out of range with the server's, then the
// login by token's settings); the first failure's message, or an empty text
// when all pass. *field, when given, names the input it is about.
QString checkMailerInput(const MailerInput& input, MailerField* field = nullptr);

// The customers of the address file whom the suppression lists of
// listsFolder leave out of a run, as the run's summary names them
// ("address (bounced 2026-12-11 550 5.1.1)"). False with the reason when a
// list exists and cannot be read.
bool suppressedCustomers(const QString& addressFile, const QString& listsFolder, QStringList* out, QString* error);

// How many customers a run from the start mails: the address file's
// records that the lists of listsFolder leave in, less those in skipped
// (the run's skipCustomers). A list that cannot be read leaves no one out
// here; the run itself refuses it.
int customersToMail(const QString& addressFile, const QString& listsFolder, const QStringList& skipped);

// The example host name in the server check's message.
inline constexpr const char* ExampleMailServer = "mail.example.com";

} // namespace og
