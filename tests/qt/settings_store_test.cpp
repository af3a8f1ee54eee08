#include "platform/error.h"
#include "platform/qt/qt_settings_store.h"
#include "tests/qt/qt_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace tavro {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qttest::ensureApplication(); }
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    std::string path() const { return folder.path().toStdString() + "/Tavro Popup Blocker.conf"; }
    void writeFile(const QByteArray& content) {
        QFile file(QString::fromStdString(path()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QByteArray readFile() const {
        QFile file(QString::fromStdString(path()));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir folder;
    qt::QtSettingsStore store{folder.path().toStdString()};
};

TEST_F(SettingsStoreTest, AbsentKeysGiveTheDefault) {
    EXPECT_EQ(store.location(), path());
    EXPECT_EQ(store.GetSetting("Tavro Popup Blocker", "Options", "Beep", "1"), "1");
    writeFile("[Options]\nMenubar=0\n");
    EXPECT_EQ(store.GetSetting("Tavro Popup Blocker", "Options", "HideOnStart", "0"), "0");
    EXPECT_EQ(store.GetSetting("Tavro Popup Blocker", "Other", "Menubar", "x"), "x");
}

TEST_F(SettingsStoreTest, SavedOptionsLandInTheOptionsSectionOfTheFile) {
    store.SaveSetting("Tavro Popup Blocker", "Options", "Beep", "1");
    store.SaveSetting("Tavro Popup Blocker", "Options", "HideOnStart", "1");
    store.SaveSetting("Tavro Popup Blocker", "Options", "Menubar", "0");
    store.SaveSetting("Tavro Popup Blocker", "Options", "Menubar", "2");
    EXPECT_EQ(readFile(), QByteArray("[Options]\nBeep=1\nHideOnStart=1\nMenubar=2\n"));
    EXPECT_EQ(store.GetSetting("Tavro Popup Blocker", "Options", "Menubar", "0"), "2");
}

TEST_F(SettingsStoreTest, StoredTextComesBackAsWritten) {
    // What a user typed into the file reaches the conversion unchanged, so the
    // conversion can reject it.
    const struct {
        QByteArray line;
        std::string value;
    } cases[] = {
        {"Beep=abc", "abc"},     {"Beep=1.5", "1.5"}, {"Beep=40000", "40000"},
        {"Beep=\" 1 \"", " 1 "}, {"Beep=1,5", "1,5"}, {"Beep=", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        // A file of its own for each case: Qt keeps what it read of a file
        // until the file's time or size changes.
        const std::string sub = folder.path().toStdString() + "/" + std::to_string(++n);
        QDir().mkpath(QString::fromStdString(sub));
        QFile file(QString::fromStdString(sub + "/Tavro Popup Blocker.conf"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Options]\n" + c.line + "\n");
        file.close();
        EXPECT_EQ(qt::QtSettingsStore(sub).GetSetting("Tavro Popup Blocker", "Options", "Beep", "1"),
                  c.value);
    }
}

TEST_F(SettingsStoreTest, AFolderThatCannotBeWrittenIsAnError) {
    // A plain file where the folder should be stops even root from writing.
    const std::string blocker = folder.path().toStdString() + "/not-a-folder";
    QFile file(QString::fromStdString(blocker));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    qt::QtSettingsStore blocked(blocker + "/config");
    try {
        blocked.SaveSetting("Tavro Popup Blocker", "Options", "Beep", "1");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find(blocked.location()), std::string::npos) << e.description();
    }
}

TEST_F(SettingsStoreTest, AFileThatCannotBeReadIsAnError) {
    // A folder where the file should be cannot be read as settings at all.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path())));
    try {
        store.GetSetting("Tavro Popup Blocker", "Options", "Beep", "1");
        ADD_FAILURE() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(e.description().find(path()), std::string::npos) << e.description();
    }
}

} // namespace
} // namespace tavro
