#pragma once
// The request of one notification run: what the vendor filled in, in the
// window's controls or the command line's arguments, over the saved
// settings. The checks of a request are mailer/send/InputChecks.h.

#include "mailer/MailerSettings.h"
#include "mailer/MessageBody.h"

#include <QString>
#include <QStringList>

#include <memory>

namespace og {

class AccessTokenSource;

// What the vendor filled in for one notification run: the window's controls,
// or the command line's arguments and settings.
struct MailerInput {
    MailerSettings settings;
    QString subject;
    MessageBody body;
    QStringList attachments;      // full paths, in the order added
    QString settingsPath;         // ordergate.ini
    QString programFolder;        // ends with "/"; message.txt goes here
    bool settingsChanged = false; // save the settings after a completed run
    QString password;             // for settings.userName; never saved
    // For an OAuth2 login: the signed-in account's tokens. A token command's
    // source is made by the run itself.
    std::shared_ptr<AccessTokenSource> tokens;
    // The folder of the vendor's lists: its unsubscribed.txt and bounced.txt
    // name the customers a run leaves out (common/SuppressionList.h), unless
    // includeSuppressed. Empty: none are left out.
    QString listsFolder;
    bool includeSuppressed = false;
    // The rate and connections were given on the command line on purpose:
    // the provider's profile does not lower them (it lowers a saved setting).
    bool rateAsked = false;
    bool connectionsAsked = false;
};

// The input a failed check is about, so a window can take the vendor there.
enum class MailerField { None, AddressFile, Sender, Server, Subject, Body, Login, Headers };

} // namespace og
