// The real window on the offscreen platform, with a fake engine: what the Qt
// adapters add to the logic; and the adapters on their own, against real
// files and programs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>

#include "Fakes.h"
#include "MainWindow.h"
#include "QtDesktop.h"
#include "QtDeviceTable.h"
#include "QtSettings.h"
#include "ui_MainWindow.h"

namespace {

// Runs the event loop until `done` holds; the deadline only stops a hung
// test, it is no timing requirement.
bool waitFor(const std::function<bool()>& done, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

QMessageBox* shownMessage() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
    return nullptr;
}

struct Gui : testing::Test {
    FakeEngine engine;
    FakeDesktop preferences;  // only its language list is used: empty, so English
    NotificationCenter notifications;
    std::unique_ptr<MainWindow> window;
    MainWindowOptions base;
    std::vector<int> exits;

    Ui::MainWindow& open(std::string langDir = NASSCOUT_LANG_DIR) {
        MainWindowOptions options = base;
        options.tickIntervalMs = 10;
        options.languageDirectories = {langDir};
        options.preferences = &preferences;
        options.notifications = &notifications;
        options.exitProcess = [this](int status) { exits.push_back(status); };
        window = std::make_unique<MainWindow>(engine, options);
        window->show();
        return window->ui();
    }
};

TEST_F(Gui, SmallLanguageTableRaisesANonModalAlertAndIsAppliedAsPlainText) {
    QTemporaryDir dir;
    std::ofstream(dir.filePath("XML_en.xml").toStdString())
        << languageFile({{"Log In", "Enter &amp; go"},
                         {"List2", "Address"},
                         {"Device List", "&lt;b&gt;Boxes"},
                         {"Search Time", "&lt;i&gt;Time:"}});
    Ui::MainWindow& ui = open(dir.path().toStdString());
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitFor([&] { return (box = shownMessage()); }));
    EXPECT_EQ(box->text() + "|" + box->informativeText(), "aaa|bbb");
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(ui.loginbutton->text(), "Enter && go");
    const QStandardItemModel& model = window->table().model();
    EXPECT_EQ(model.horizontalHeaderItem(1)->text() + "|" + model.horizontalHeaderItem(0)->text(),
              "Address|Host name") << "the window's own texts stay";
    EXPECT_EQ(ui.deviceListField->font().family() + " " + ui.deviceListField->text(), "DejaVu Sans <b>Boxes");
    EXPECT_EQ(ui.deviceListField->font().pointSizeF(), 11);
    ASSERT_TRUE(waitFor([&] { return ui.countdownField->text().startsWith("<i>Time: "); }));
    EXPECT_EQ(ui.countdownField->textFormat() + ui.deviceListField->textFormat(), 2 * Qt::PlainText);
    box->close();
}

// The opener program fails, so the message tells which address was opened.
TEST_F(Gui, KeyboardAloneReachesEveryButtonOpensTheNumericallySortedSelectionRefreshesAndCloses) {
    base.urlOpener = {"false"};
    for (const char* ip : {"198.51.100.100", "not an address", "198.51.100.11", "10.0.0.2", "198.51.100.2"})
        engine.list.push_back(device("x", ip));
    Ui::MainWindow& ui = open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ASSERT_TRUE(waitFor([&] { return ui.loginbutton->isEnabled(); }));
    ui.tableview->setFocus();
    std::vector<QWidget*> order;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        order.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(order, (std::vector<QWidget*>{ui.loginbutton, ui.storagebutton, ui.refreshbutton,
                                            ui.othersbutton, ui.tableview}));

    ui.tableview->sortByColumn(1, Qt::AscendingOrder);
    QStringList ips;
    for (int r = 0; r < 5; ++r) ips << ui.tableview->model()->index(r, 1).data().toString();
    EXPECT_EQ(ips.join(" "), "10.0.0.2 198.51.100.2 198.51.100.11 198.51.100.100 not an address");
    ui.tableview->selectRow(0);
    QTest::keyClick(ui.tableview, Qt::Key_Return);  // Enter does what Log In does
    QMessageBox* box = nullptr;  // the message names the address, and its button copies it
    ASSERT_TRUE(waitFor([&] { return (box = shownMessage()); }));
    EXPECT_EQ(box->text(), "Could not open http://10.0.0.2");
    QGuiApplication::clipboard()->clear();
    for (QAbstractButton* b : box->buttons())
        if (b->text() == "&Copy address") b->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "http://10.0.0.2");
    box->close();
    window->activateWindow();  // the shortcuts belong to the active window
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F5);
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);  // still counting down: nothing
    EXPECT_EQ(std::ranges::count(engine.calls, "clear"), 1);
    ASSERT_TRUE(waitFor([&] { return ui.refreshbutton->isEnabled(); }));
    QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_EQ(std::ranges::count(engine.calls, "clear"), 2);
    QTest::keyClick(window.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(exits, std::vector<int>{1});

    EXPECT_EQ(window->windowTitle() + "|" + ui.tableview->accessibleName(),
              "nasscout – Network Storage Finder|Devices found");
    EXPECT_EQ(ui.storagebutton->text() + "|" + ui.deviceListField->text(), "&My storage|&Device List");
    EXPECT_FALSE(ui.storagebutton->accessibleDescription().isEmpty());
}

TEST_F(Gui, TornDownWhileTheParseWaitsForTheMainThread) {
    for (int i = 0; i < 5; ++i) {
        open();
        // No events run meanwhile: the parse waits on the main thread, which teardown must release.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        window.reset();
    }
}

// Refused text stays for mending.
TEST_F(Gui, OtherNetworksDialogRefusesInPlaceAndClosesOnSave) {
    Ui::MainWindow& ui = open();
    ui.othersbutton->click();
    QPointer<QDialog> dialog = window->findChild<QDialog*>("targetsDialog");
    ASSERT_TRUE(dialog);
    auto* edit = dialog->findChild<QPlainTextEdit*>("targetsEdit");
    auto* save = dialog->findChild<QPushButton*>("targetsSave");
    edit->setPlainText("198.18.10.0/33");
    save->click();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->findChild<QLabel*>("targetsError")->text(),
              "'198.18.10.0/33': a network must be /16 to /32");
    edit->setPlainText("198.18.10.20");
    save->click();
    ASSERT_TRUE(waitFor([&] { return !dialog; }));
    EXPECT_EQ(engine.targets.Count(), 1u);
}

// One adapter for the whole run, as the window has; the file changes under it.
TEST(SettingsFile, EachSaveIsJudgedByItselfAndAHandEditedCommaListIsReadAsItsItems) {
    QtSettings settings;
    const QString file = QString::fromStdString(settings.location());
    ASSERT_TRUE(file.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME"))) << file.toStdString();
    QDir().mkpath(QFileInfo(file).path());
    // The file's text before the step (nullptr: none, "/": a directory in its place), what it is read
    // as (nullptr: not asked), what is saved and whether that succeeds.
    const struct Step {
        const char *text, *read, *save;
        bool saved;
    } steps[] = {
        {nullptr, nullptr, "198.18.10.20", true},
        {"/", nullptr, "198.18.10.21", false},
        {nullptr, nullptr, "198.18.10.22", true},                                  // after a failed save
        {"[General\ntargets=198.18.10.7\n", "198.18.10.7", "198.18.10.23", true},  // not parsed cleanly
        {"[General]\ntargets=10.1.20.0/24, 10.1.30.7\n", "10.1.20.0/24, 10.1.30.7",
         "10.1.20.0/24,\n10.1.30.7", true},
    };
    for (const Step& step : steps) {
        QDir(file).removeRecursively();
        QFile::remove(file);
        if (step.text && step.text == std::string_view("/"))
            QDir().mkpath(file);
        else if (step.text)
            std::ofstream(file.toStdString()) << step.text;
        EXPECT_TRUE(!step.read || settings.value("targets") == step.read) << step.save;
        EXPECT_EQ(settings.setValue("targets", step.save), step.saved) << step.save;
        EXPECT_TRUE(!step.saved || QtSettings().value("targets") == step.save) << step.save << " kept as typed";
    }
    QFile::remove(file);
}

// Each stand-in xdg-open fails unless given its own URL, then does what its
// script says; nullptr: no xdg-open at all.
TEST(Opener, OnlyAFailureToStartOrAPromptFailureCodeCountsNotABrowserThatEndsBadlyLater) {
    QTemporaryDir dir;
    const QByteArray path = qgetenv("PATH");
    const char* scripts[] = {"exit 0", "exit 4", "sleep 3; exit 3", nullptr};
    QtWorkspace workspace({"xdg-open"}, 1500);
    std::vector<int> failures(std::size(scripts));
    for (std::size_t i = 0; i < std::size(scripts); ++i) {
        const QString bin = dir.filePath(QString::number(i));
        const std::string url = "http://198.51.100." + std::to_string(10 + i);
        QDir().mkpath(bin);
        if (scripts[i]) {
            std::ofstream(bin.toStdString() + "/xdg-open") << "#!/bin/sh\n[ \"$1\" = " << url
                                                           << " ] || exit 9\ntrap 'touch \"$0.end\"' EXIT\n"
                                                           << scripts[i] << "\n";
            QFile::setPermissions(bin + "/xdg-open", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        // The row's own directory first; a real xdg-open must not run.
        qputenv("PATH", bin.toLocal8Bit() + (scripts[i] ? ":/usr/bin:/bin" : ""));
        workspace.openURL(url, [&failures, i] { ++failures[i]; });
    }
    qputenv("PATH", path);
    EXPECT_TRUE(waitFor([&] { return QFile::exists(dir.filePath("2/xdg-open.end")); }));  // the last to end
    waitFor([] { return false; }, 500);  // its exit's report
    EXPECT_EQ(failures, (std::vector<int>{0, 1, 0, 1}));
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;  // the user's own settings stay untouched
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
