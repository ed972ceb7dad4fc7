#include <cstdlib>
#include <string>

#include <QApplication>
#include <QTimer>

#include "AppDelegate.h"
#include "DirectoryResources.h"
#include "MainWindow.h"
#include "QtDesktop.h"
#include "SearchEngine.h"

namespace {

// NASSCOUT_TICK_MS shortens the one-second tick for tests and screenshots.
int tickIntervalFromEnvironment() {
    const char* raw = std::getenv("NASSCOUT_TICK_MS");
    if (!raw || !*raw) return 0;
    char* end = nullptr;
    const long ms = std::strtol(raw, &end, 10);
    if (*end != '\0' || ms < 1 || ms > 60000) return 0;
    return static_cast<int>(ms);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("nasscout");
    QApplication::setDesktopFileName("nasscout");

    MainWindowOptions options;
    options.tickIntervalMs = tickIntervalFromEnvironment();
    options.languageDirectories =
        DirectoryResources::languageDirectories(QCoreApplication::applicationDirPath().toStdString(),
                                                NASSCOUT_INSTALLED_LANG_DIR);
    if (const char* shot = std::getenv("NASSCOUT_SCREENSHOT")) options.screenshotPath = shot;

    SearchEngine engine;
    QtSystemLog log;
    MainWindow window(engine, options);
    AppDelegate delegate(&window, log);
    delegate.awakeFromNib();
    window.show();
    QTimer::singleShot(0, [&delegate] { delegate.applicationDidFinishLaunching(); });
    return app.exec();
}
