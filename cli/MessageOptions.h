#pragma once
// send's options for what each message carries besides its text: the
// format (--markdown) and the reply, automatic-message and unsubscribe
// headers. Laid over the settings file's values like every other option.

#include "cli/Arguments.h"

#include "mailer/MailerSettings.h"

namespace og::cli {

class MessageOptions {
public:
    void add(ArgumentParser& parser);
    // Lays what was given over the settings file's values.
    void apply(MailerSettings& settings) const;

    // The options' lines for the usage and the help text.
    static QString usage();
    static QString help();

private:
    bool markdown_ = false, autoSubmitted_ = false, haveReplyTo_ = false;
    QString replyTo_;
    QStringList unsubscribe_;
};

} // namespace og::cli
