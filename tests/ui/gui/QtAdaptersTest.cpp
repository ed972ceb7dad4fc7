// The Qt adapters on their own, against real files and programs: the settings
// file (in the temporary XDG_CONFIG_HOME that main sets) and stand-in openers.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <fstream>
#include <functional>

#include "QtDesktop.h"
#include "QtSettings.h"

namespace {

bool waitFor(const std::function<bool()>& done, int ms) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// One adapter for the whole run, as the window has; the file changes under it.
TEST(SettingsFile, EachSaveIsJudgedByItselfAndAHandEditedCommaListIsReadAsItsItems) {
    QtSettings settings;
    const QString file = QString::fromStdString(settings.location());
    ASSERT_TRUE(file.startsWith(qEnvironmentVariable("XDG_CONFIG_HOME"))) << file.toStdString();
    QDir().mkpath(QFileInfo(file).path());
    struct Step {
        const char* text;  // the file's text before the step; nullptr: none, "/": a directory in its place
        const char* read;  // what it is read as; nullptr: not asked
        const char* save;
        bool saved;
    };
    const Step steps[] = {
        {nullptr, nullptr, "198.18.10.20", true},
        {"/", nullptr, "198.18.10.21", false},
        {nullptr, nullptr, "198.18.10.22", true},  // after a failed save
        {"[General\ntargets=198.18.10.7\n", "198.18.10.7", "198.18.10.23", true},  // not parsed cleanly
        {"[General]\ntargets=10.1.20.0/24, 10.1.30.7\n", "10.1.20.0/24, 10.1.30.7", "10.1.20.0/24,\n10.1.30.7",
         true},
    };
    for (const Step& step : steps) {
        QDir(file).removeRecursively();
        QFile::remove(file);
        if (step.text && step.text == std::string_view("/"))
            QDir().mkpath(file);
        else if (step.text)
            std::ofstream(file.toStdString()) << step.text;
        if (step.read) {
            EXPECT_EQ(settings.value("targets"), step.read) << step.save;
        }
        EXPECT_EQ(settings.setValue("targets", step.save), step.saved) << step.save;
        if (step.saved) {
            EXPECT_EQ(QtSettings().value("targets"), step.save) << "kept as typed";
        }
    }
    QFile::remove(file);
}

// Each stand-in xdg-open notes the URL it was given, then does what its row says.
TEST(Opener, OnlyAFailureToStartOrAPromptFailureCodeCountsNotABrowserThatEndsBadlyLater) {
    QTemporaryDir dir;
    const QByteArray path = qgetenv("PATH");
    struct Row {
        const char* script;  // nullptr: no xdg-open at all
        bool failed;
    };
    const Row rows[] = {{"exit 0", false}, {"exit 4", true}, {"sleep 3; exit 3", false}, {nullptr, true}};
    QtWorkspace workspace({"xdg-open"}, 1500);
    std::vector<int> failures(std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const QString bin = dir.filePath(QString::number(i));
        QDir().mkpath(bin);
        if (rows[i].script) {
            std::ofstream(bin.toStdString() + "/xdg-open")
                << "#!/bin/sh\necho \"$1\" >\"$0.url\"\ntrap 'touch \"$0.end\"' EXIT\n" << rows[i].script << "\n";
            QFile::setPermissions(bin + "/xdg-open", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        // The row's own directory first; a real xdg-open must not run.
        qputenv("PATH", bin.toLocal8Bit() + (rows[i].script ? ":/usr/bin:/bin" : ""));
        workspace.openURL("http://198.51.100." + std::to_string(10 + i), [&failures, i] { ++failures[i]; });
    }
    qputenv("PATH", path);
    EXPECT_TRUE(waitFor(
        [&] {
            for (std::size_t i = 0; i < std::size(rows); ++i)
                if (rows[i].script && !QFile::exists(dir.filePath(QString::number(i) + "/xdg-open.end")))
                    return false;
            return true;
        },
        30000));
    waitFor([] { return false; }, 500);  // the last exit's report
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(failures[i], rows[i].failed ? 1 : 0) << i;
        if (!rows[i].script) continue;
        QFile url(dir.filePath(QString::number(i) + "/xdg-open.url"));
        EXPECT_TRUE(url.open(QIODevice::ReadOnly));
        EXPECT_EQ(url.readAll().toStdString(), "http://198.51.100." + std::to_string(10 + i) + "\n");
    }
}

}  // namespace
