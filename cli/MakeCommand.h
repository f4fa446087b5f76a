#pragma once
#include "cli/Command.h"
#include "orders/Options.h"

namespace og::cli {

// ordergate-cli make [REPORT] [--product NAME] [--dir DIR] [--layout NAME]
//                   [--keep-accounts | --drop-missing]
extern const Command makeCommand;

// The parsed command line of make; public for the tests.
struct MakeArguments {
    QString report;      // a path, or "-" for standard input
    QString product;     // empty: the first entry of the product list
    QString dir;         // empty: the program's folder
    QString layout;      // empty: the layout is found from the report
    QString adjustments; // an adjustments report (Paddle's); empty: none
    // Customers of earlier runs missing from the report; Ask: the settings
    // decide (and without a setting, they lose access with a warning).
    MissingAccounts missing = MissingAccounts::Ask;
    bool help = false;
};

// False (with a message in error) for a malformed command line.
bool parseMakeArguments(const QStringList& args, MakeArguments* out, QString* error);
QString makeHelpText();

} // namespace og::cli
