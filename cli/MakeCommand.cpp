#include "cli/MakeCommand.h"

#include "cli/Arguments.h"

#include "common/ProfileFile.h"
#include "common/ProgramFolder.h"
#include "orders/CustomerLists.h"
#include "orders/InputFiles.h"
#include "orders/MappedFile.h"
#include "orders/Options.h"
#include "orders/Report.h"
#include "orders/SavedLayouts.h"
#include "orders/ScriptRun.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <exception>

namespace og::cli {

namespace {

ExitStatus run(const QStringList& args);

} // namespace

const Command makeCommand = {
    "make",
    "write MakePass.ksh and the address file for a product of a sales report",
    &run,
};

QString makeHelpText()
{
    return QStringLiteral("Usage: ordergate-cli make [REPORT] [--product NAME] [--dir DIR] [--layout NAME]\n"
                          "                         [--adjustments FILE] [--keep-accounts | --drop-missing]\n"
                          "\n"
                          "Reads a sales report (SWREG or RegNet comma-separated text, or a CSV\n"
                          "export with a header row: Gumroad, Shopify, Paddle, Lemon Squeezy, Easy\n"
                          "Digital Downloads, Stripe, Polar, common column names or a layout of\n"
                          "ordergate.ini; see ordergate-cli layouts), takes the\n"
                          "orders of one product, reconciles them with the customer lists and writes\n"
                          "the batch file MakePass.ksh and the address file email_PRODUCT.txt.\n"
                          "\n"
                          "  REPORT          a regular file holding the report text; \"-\" or none:\n"
                          "                  standard input.\n"
                          "                  UTF-8; bytes that are not valid UTF-8 are read as\n"
                          "                  Windows-1252. Lines end with CR LF or LF.\n"
                          "  --product NAME  the product, compared ignoring case, or \"All\" for every\n"
                          "                  order of the report. Without it the first entry of the\n"
                          "                  product list is taken: \"All\" when the report names two\n"
                          "                  or more products, else its only product.\n"
                          "  --dir DIR       the program folder of this run (it must exist): its\n"
                          "                  ordergate.ini gives the options, MakePass.ksh and the\n"
                          "                  address file are written into it, and the address file's\n"
                          "                  path is stored there as [options] efile. Without it, the\n"
                          "                  folder of this executable.\n"
                          "  --layout NAME   read the report's header row with this layout (saved or\n"
                          "                  built-in) instead of finding one.\n"
                          "  --adjustments FILE  Paddle's adjustments report: the orders its approved\n"
                          "                  refunds and chargebacks name are excluded.\n"
                          "  --keep-accounts customers of earlier runs (accounts_PRODUCT.txt) who are\n"
                          "                  not in this report keep their accounts, unless now\n"
                          "                  blocked or at a new address.\n"
                          "  --drop-missing  they lose access. Without either, [options] keepaccounts\n"
                          "                  decides; without that, they lose access and standard\n"
                          "                  error warns.\n"
                          "  -h, --help      show this text.\n"
                          "\n"
                          "The customer lists bozos.txt, Address.txt and goodguys.txt are read from\n"
                          "the current working directory; a missing list is empty, and standard\n"
                          "error says so. A customer a store marks \"do not contact\" keeps the\n"
                          "account and is added to unsubscribed.txt there, which the mailer skips.\n"
                          "\n"
                          "A line with an \"@\" is an order only with one address (one \"@\" with\n"
                          "text on both sides, no blank), an order number and no control character;\n"
                          "other such lines are skipped and the first few named on standard error.\n"
                          "\n"
                          "What changed since the last run (new, kept, removed and changed accounts)\n"
                          "goes to standard error and, in full, to changes_PRODUCT.txt; the new\n"
                          "customers alone to email_PRODUCT_new.txt.\n"
                          "\n"
                          "On success standard output holds exactly the seven statistics lines (an\n"
                          "eighth counts skipped lines when there are any) and the exit status is 0.\n"
                          "A report without orders (\"No records processed\"), an unknown product\n"
                          "and every failure to read or write a file are reported on standard error\n"
                          "with exit status 1; a malformed command line gives 2.\n");
}

bool parseMakeArguments(const QStringList& args, MakeArguments* out, QString* error)
{
    *out = MakeArguments();
    QStringList operands;
    ArgumentParser parser;
    parser.value(QStringLiteral("--product"), &out->product);
    bool haveDir = false;
    parser.value(QStringLiteral("--dir"), &out->dir, &haveDir);
    bool haveLayout = false;
    parser.value(QStringLiteral("--layout"), &out->layout, &haveLayout);
    bool haveAdjustments = false;
    parser.value(QStringLiteral("--adjustments"), &out->adjustments, &haveAdjustments);
    parser.operands(&operands, 1, QStringLiteral("only one REPORT may be given"));
    bool keep = false, drop = false;
    parser.flag(QStringLiteral("--keep-accounts"), &keep);
    parser.flag(QStringLiteral("--drop-missing"), &drop);
    if (!parser.parse(args, error))
        return false;
    if (keep && drop) {
        *error = QStringLiteral("--keep-accounts and --drop-missing exclude each other");
        return false;
    }
    out->missing = keep ? MissingAccounts::Keep : drop ? MissingAccounts::Drop : MissingAccounts::Ask;
    out->help = parser.helpAsked();
    if (haveDir && out->dir.isEmpty()) {
        *error = QStringLiteral("--dir needs a folder");
        return false;
    }
    if (haveLayout && out->layout.isEmpty()) {
        *error = QStringLiteral("--layout needs a name");
        return false;
    }
    if (haveAdjustments && out->adjustments.isEmpty()) {
        *error = QStringLiteral("--adjustments needs a file");
        return false;
    }
    out->report = operands.isEmpty() ? QStringLiteral("-") : operands.first();
    return true;
}

namespace {

// Standard input, or the report file.
bool readReport(const QString& source, QByteArray* bytes, QString* error, bool* validUtf8)
{
    if (source != u"-")
        return readReportFile(source, bytes, error, validUtf8);
    QFile file;
    if (!file.open(stdin, QIODevice::ReadOnly) || (*bytes = file.readAll(), file.error() != QFileDevice::NoError)) {
        *error = QStringLiteral("Unable to read the report standard input: %1").arg(file.errorString());
        return false;
    }
    return true;
}

void printNotes(const QStringList& notes)
{
    for (const QString& note : notes)
        printError(QStringLiteral("ordergate-cli make: ") + note + u'\n');
}

ExitStatus fail(const QString& message)
{
    printError(QStringLiteral("ordergate-cli make: ") + message + u'\n');
    return ExitStatus::Failure;
}

// The saved layouts for the intake, the one asked for and the orders an
// adjustments report takes back.
bool readWithLayouts(
    Report& report, const QString& settingsPath, const QString& name, const QString& adjustments, QString* error)
{
    ReportReading reading;
    if (!adjustments.isEmpty()) {
        QByteArray bytes;
        if (!readReportFile(adjustments, &bytes, error))
            return false;
        QString problem;
        reading.adjustments = readAdjustments(bytes, &problem);
        if (!reading.adjustments) {
            *error = QStringLiteral("%1: %2").arg(adjustments, problem);
            return false;
        }
    }
    reading.saved = loadSavedLayouts(settingsPath);
    if (!name.isEmpty()) {
        reading.forced = findLayout(reading.saved, name);
        if (!reading.forced) {
            *error = QStringLiteral("there is no layout \"%1\"; ordergate-cli layouts lists them").arg(name);
            return false;
        }
    }
    report.setReading(std::move(reading));
    return true;
}

// The program folder of the run, ending in "/": DIR, or the executable's
// without one. Empty, with the message in *error, for a folder that is not.
QString runFolder(const QString& dir, QString* error)
{
    if (dir.isEmpty())
        return programFolder();
    const QFileInfo info(dir);
    if (!info.isDir()) {
        *error = QStringLiteral("the folder %1 does not exist").arg(dir);
        return {};
    }
    return info.absoluteFilePath() + u'/';
}

// The entry of the product list that name picks, ignoring case (the first
// without a name); -1, with the message in *error, for a name the report
// lacks.
qsizetype chooseProduct(const QStringList& products, const QString& name, QString* error)
{
    if (name.isEmpty())
        return 0;
    for (qsizetype i = 0; i < products.size(); ++i) {
        if (QString::compare(products[i], name, Qt::CaseInsensitive) == 0)
            return i;
    }
    // With a single product the list has no "All": its one entry already
    // stands for every order.
    if (products.size() == 1 && QString::compare(name, u"All", Qt::CaseInsensitive) == 0)
        return 0;
    QStringList quoted;
    for (const QString& p : products)
        quoted.append(u'"' + p + u'"');
    *error = QStringLiteral("the report has no product \"%1\"; its products are: %2")
                 .arg(name, quoted.join(QStringLiteral(", ")));
    return -1;
}

ExitStatus run(const QStringList& args)
{
    MakeArguments a;
    QString error;
    if (!parseMakeArguments(args, &a, &error))
        return usageError(makeCommand, error, makeHelpText());
    if (a.help) {
        printOut(makeHelpText());
        return ExitStatus::Ok;
    }

    const QString folder = runFolder(a.dir, &error);
    if (folder.isEmpty())
        return fail(error);
    const QString settingsPath = settingsPathIn(folder);

    try {
        Options options = loadOptions(settingsPath, Options());
        if (a.missing != MissingAccounts::Ask)
            options.keepaccounts = a.missing;
        const bool unasked = options.keepaccounts == MissingAccounts::Ask;
        if (unasked)
            options.keepaccounts = MissingAccounts::Drop; // as before accounts were compared

        // The lists load on a second core while the report is read.
        ListLoad listLoad(customerListsFolder());

        // A report file is mapped, not copied: the run is short, and refuses
        // to write anything should the file be cut short meanwhile.
        QString unmapped;
        std::shared_ptr<const MappedFile> mapped = a.report == u"-" ? nullptr : MappedFile::open(a.report, &unmapped);
        QByteArray bytes;
        bool validUtf8 = false;
        if (!mapped && !readReport(a.report, &bytes, &error, &validUtf8))
            return fail(error);
        Report report;
        if (!readWithLayouts(report, settingsPath, a.layout, a.adjustments, &error))
            return fail(error);
        if (mapped)
            report.readMapped(std::move(mapped));
        else
            report.readBytes(std::move(bytes), validUtf8);

        const QStringList products = report.products();
        if (products.isEmpty()) {
            printNotes(skippedLineNotes(report));
            if (!report.headerProblem().isEmpty())
                printNotes({report.headerProblem()});
            return fail(QStringLiteral("No records processed\n"
                                       "The report holds no order line (a line with an address and an order "
                                       "number). Is it the comma-separated sales report?"));
        }

        const qsizetype chosen = chooseProduct(products, a.product, &error);
        if (chosen < 0)
            return fail(error);
        const QString& selected = products[chosen];

        if (const QString listError = listLoad.wait(); !listError.isEmpty())
            return fail(listError);

        writeAddressFilePath(settingsPath, folder + addressFileName(selected));

        RunRequest request;
        request.report = &report;
        request.selectedProduct = selected;
        request.allProducts = chosen == 0;
        request.options = options;
        request.lists = &listLoad.lists();
        request.folder = folder;
        request.keepScriptLines = false; // only the statistics are shown
        request.dropChosen = !unasked;   // a ledger in doubt stops an unasked run
        const RunResult result = performRun(request);
        printOut(result.statistics.join(u'\n') + u'\n');
        printNotes(result.changes);
        if (unasked && result.keepable > 0)
            printNotes({QStringLiteral("warning: %1 customers of the last run are not in this report and lost "
                                       "access; --keep-accounts keeps them")
                            .arg(result.keepable)});
        printNotes(result.notes);
        return ExitStatus::Ok;
    } catch (const std::exception& e) {
        return fail(QString::fromUtf8(e.what()));
    }
}

} // namespace

} // namespace og::cli
