#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

#include "AppDelegate.h"
#include "DirectoryResources.h"
#include "MainWindow.h"
#include "QtDesktop.h"
#include "QtSettings.h"
#include "SearchEngine.h"

namespace {

const char kUsage[] =
    "Usage: nasscout [--verbose] [Qt options such as -platform NAME]\n"
    "Finds network storage boxes on every local IPv4 network and opens the one you pick.\n"
    "The window starts searching at once. Boxes behind a router answer only when named\n"
    "under Other networks... (addresses and networks such as 10.1.20.0/24, kept in\n"
    "~/.config/nasscout/nasscout.conf); they are then asked directly after every search.\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help and exit\n"
    "      --version  print the version and exit\n"
    "      --verbose  copy the diagnostic lines written to the system log to standard error\n"
    "\n"
    "Keys: Tab and Shift+Tab move between the table and the buttons; Enter opens the\n"
    "selected device's web interface; F5 or Ctrl+R searches again; Ctrl+Q quits;\n"
    "Alt with an underlined letter presses that button.\n"
    "Diagnostic lines go to the system log (journalctl -t nasscout).\n"
    "See man nasscout, and the README's troubleshooting section when nothing is found.\n";

// NASSCOUT_TICK_MS shortens the one-second tick for tests and screenshots.
int tickIntervalFromEnvironment() {
    const char* raw = std::getenv("NASSCOUT_TICK_MS");
    if (!raw || !*raw) return 0;
    char* end = nullptr;
    const long ms = std::strtol(raw, &end, 10);
    if (*end != '\0' || ms < 1 || ms > 60000) return 0;
    return static_cast<int>(ms);
}

// The installed README, else the source tree's (a build-tree run).
std::string readmePath() {
    const QString installed = QDir(QCoreApplication::applicationDirPath() + "/" + NASSCOUT_INSTALLED_DOC_DIR)
                                  .absoluteFilePath("README.md");
    if (QFileInfo::exists(installed)) return QDir::cleanPath(installed).toStdString();
    if (QFileInfo::exists(NASSCOUT_SOURCE_README)) return NASSCOUT_SOURCE_README;
    return "README.md";
}

}  // namespace

int main(int argc, char** argv) {
    // Our own options are handled before Qt sees a display, so that --help
    // and --version work anywhere; the rest is Qt's.
    bool verbose = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::puts("nasscout " NASSCOUT_VERSION);
            return 0;
        }
        if (!std::strcmp(argv[i], "--verbose"))
            verbose = true;
        else
            argv[kept++] = argv[i];
    }
    argv[kept] = nullptr;
    argc = kept;
    QtSystemLog::open(verbose);

    QApplication app(argc, argv);
    QApplication::setApplicationName("nasscout");
    QApplication::setApplicationVersion(NASSCOUT_VERSION);
    QApplication::setDesktopFileName("nasscout");

    MainWindowOptions options;
    options.tickIntervalMs = tickIntervalFromEnvironment();
    options.languageDirectories =
        DirectoryResources::languageDirectories(QCoreApplication::applicationDirPath().toStdString(),
                                                NASSCOUT_INSTALLED_LANG_DIR);
    if (const char* shot = std::getenv("NASSCOUT_SCREENSHOT")) options.screenshotPath = shot;
    if (const QString xdgOpen = QStandardPaths::findExecutable("xdg-open"); !xdgOpen.isEmpty())
        options.urlOpener = {xdgOpen.toStdString()};
    options.readmePath = readmePath();

    QtSettings settings;
    options.settings = &settings;

    SearchEngine engine;
    QtSystemLog log;
    MainWindow window(engine, options);
    AppDelegate delegate(&window, log);
    delegate.awakeFromNib();
    window.show();
    QTimer::singleShot(0, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return app.exec();
}
