// The real window with the real engine, in the lab only: devices played by
// nasscout-sim must appear and open through the desktop, also once sorted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <cstdio>
#include <cstdlib>

#include "GuiTestSupport.h"
#include "MainWindow.h"
#include "SearchEngine.h"
#include "ui_MainWindow.h"

TEST(LabWindow, SimulatedDevicesAppearAndTheSortedSelectionOpens) {
    UrlCatcher catcher;
    SearchEngine engine;
    MainWindowOptions options;
    options.tickIntervalMs = 200;
    options.languageDirectories = {NASSCOUT_LANG_DIR};
    options.exitProcess = [](int) {};
    MainWindow window(engine, options);
    window.show();
    Ui::MainWindow& ui = window.ui();
    QAbstractItemModel* model = ui.tableview->model();
    auto rows = [&] {
        QStringList text;
        for (int r = 0; r < model->rowCount(); ++r)
            for (int c = 0; c < 3; ++c) text << model->index(r, c).data().toString();
        return text.join(" ");
    };
    // The table freezes when the countdown ends; search again, as a user
    // would, if an answer came too late.
    for (int attempt = 0; attempt < 5 && model->rowCount() < 2; ++attempt) {
        if (attempt > 0) ui.refreshbutton->click();
        ASSERT_TRUE(waitFor([&] { return ui.loginbutton->isEnabled(); }));
    }
    // The delayed device is listed second; sorted by name it comes first.
    ASSERT_EQ(rows(), "nas-office 198.51.100.10 DS-220 archive 198.51.100.11 MX-2");
    ui.tableview->sortByColumn(0, Qt::AscendingOrder);
    ASSERT_EQ(rows(), "archive 198.51.100.11 MX-2 nas-office 198.51.100.10 DS-220");
    ui.tableview->selectRow(0);
    ui.loginbutton->click();
    ui.storagebutton->click();
    EXPECT_EQ(catcher.urls, (std::vector<QString>{"http://198.51.100.11", "smb://198.51.100.11"}));
}

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
