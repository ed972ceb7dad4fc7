// The real window with the real engine, in the lab only: a device played by
// nasscout-sim must appear and open through the desktop.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>

#include <QApplication>
#include <QPushButton>
#include <QTableView>

#include "GuiTestSupport.h"
#include "MainWindow.h"
#include "SearchEngine.h"
#include "ui_MainWindow.h"

namespace {

int rowOf(QTableView* view, const QString& ip) {
    for (int r = 0; r < view->model()->rowCount(); ++r)
        if (view->model()->index(r, 1).data().toString() == ip) return r;
    return -1;
}

TEST(LabWindow, SimulatedDeviceAppearsAndOpens) {
    UrlCatcher catcher;
    SearchEngine engine;
    MainWindowOptions options;
    options.tickIntervalMs = 200;
    options.languageDirectories = {NASSCOUT_LANG_DIR};
    options.exitProcess = [](int) {};
    MainWindow window(engine, options);
    window.show();
    Ui::MainWindow& ui = window.ui();
    auto done = [&] { return ui.loginbutton->isEnabled(); };

    // The table freezes when the countdown ends; search again, as a user
    // would, if the answer came too late.
    int row = -1;
    for (int attempt = 0; attempt < 5 && row < 0; ++attempt) {
        if (attempt > 0) ui.refreshbutton->click();
        ASSERT_TRUE(waitFor(done));
        row = rowOf(ui.tableview, "198.51.100.10");
    }
    ASSERT_GE(row, 0) << "the simulated device never appeared";
    EXPECT_EQ(ui.tableview->model()->index(row, 0).data().toString(), "nas-office");
    EXPECT_EQ(ui.tableview->model()->index(row, 2).data().toString(), "DS-220");
    std::printf("status line: \"%s\"\n", qPrintable(ui.statusField->text()));

    ui.tableview->selectRow(row);
    ui.loginbutton->click();
    ui.storagebutton->click();
    EXPECT_EQ(catcher.urls, (std::vector<QString>{"http://198.51.100.10", "smb://198.51.100.10"}));
}

}  // namespace

int main(int argc, char** argv) {
    // The engine broadcasts: never outside the lab's namespaces.
    if (!std::getenv("LAB_LAN_PID")) {
        std::fprintf(stderr, "ui_lab_tests: not inside tests/lab/lab.sh; skipped\n");
        return 77;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
