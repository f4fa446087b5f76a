#pragma once
#include "cli/Command.h"
#include "publish/Publisher.h"

namespace og::cli {

// ordergate-cli publish PRODUCT [--host HOST] [--port N] [--user NAME] [--key FILE]
//   [--password-file FILE] [--folder PATH] [--check-url URL] [--accept-host-key SHA256]
//   [--known-hosts FILE] [--dry-run] [--undo] [--dir DIR]
extern const Command publishCommand;

// The parsed command line of publish; public for the tests.
struct PublishArguments {
    QString product;
    QString dir; // empty: the program's folder
    QString passwordFile, acceptHostKey;
    // Given values lay over the [publish] settings.
    PublishSettings given;
    QList<QString PublishSettings::*> givenTexts; // which of given's texts were given
    bool havePort = false;
    PublishMode mode = PublishMode::Publish;
    bool help = false;

    // The settings of the file with the given values laid over them.
    PublishSettings over(const PublishSettings& file) const;
};

// False (with a message in error) for a malformed command line.
bool parsePublishArguments(const QStringList& args, PublishArguments* out, QString* error);
QString publishHelpText();

} // namespace og::cli
