#include "app/Ordergate.h"
#include "orders/HeapBounds.h"
#include "platform/QtPlatform.h"
#include "platform/VersionInfo.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    // Answered before anything needs a display, so packaging scripts and
    // users on a console can ask which copy is installed.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("ordergate %s\n", OG_VERSION_PRODUCT_VERSION);
        return 0;
    }
    // Without a display Qt would abort with a message about plugins; say
    // what is going on and where the same job runs without windows.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
            "ordergate: no display found; the Ordergate window needs a desktop (X11 or "
            "Wayland).\nWithout one, run the same job with ordergate-cli (see "
            "\"ordergate-cli --help\").\n");
        return 1;
    }
    og::mapBigBlocksAlone();
    QApplication app(argc, argv);
    og::Ordergate::initApplication();

    const QStringList args = QApplication::arguments().mid(1);
    const bool help = args.size() == 1 && (args.first() == u"--help" || args.first() == u"-h");
    if (help || args.size() > 1 || (!args.isEmpty() && args.first().startsWith(u'-'))) {
        std::fprintf(help ? stdout : stderr,
            "usage: ordergate [REPORT]\n"
            "       ordergate --version\n"
            "  Without REPORT the sales report is taken from the clipboard.\n"
            "  Without a display, use ordergate-cli instead.\n");
        return help ? 0 : 2;
    }
    og::QtPlatform platform;
    return og::Ordergate::run(platform, args.value(0));
}
