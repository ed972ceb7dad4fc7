// The Qt adapters on their own, against real files and programs: the settings
// file, in the temporary XDG_CONFIG_HOME that main sets.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fstream>

#include "QtSettings.h"

namespace {

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

}  // namespace
