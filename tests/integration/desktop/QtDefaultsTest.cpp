// The settings store on real files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/linux/QtDefaults.h"

namespace velmora::desktop {
namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

TEST(QtDefaults, AStrayByteCostsNothingButIsKeptAside) {
    QTemporaryDir home;
    const QString file = home.path() + QStringLiteral("/velmora.conf");
    static const char kDamaged[] =
        "[General]\nHotkeyCode=35\ncustomAIInstructions=Caf\xE9 \0style\nselectedModel=m1\n";
    const QByteArray damaged(kDamaged, sizeof kDamaged - 1);
    writeFile(file, damaged);
    QtDefaults defaults(file);
    EXPECT_EQ(defaults.stringForKey("customAIInstructions"), "Café style");
    EXPECT_EQ(defaults.integerForKey("HotkeyCode"), 35);
    EXPECT_EQ(defaults.stringForKey("selectedModel"), "m1");
    EXPECT_EQ(contents(file + QStringLiteral(".damaged")), damaged);
    EXPECT_FALSE(defaults.storageProblem());
    defaults.setString("selectedModel", "m2");
    EXPECT_TRUE(contents(file).contains("customAIInstructions=Caf\xC3\xA9 style\n"));
}

TEST(QtDefaults, AFolderThatTakesNoWritesIsReportedAndChangesStillHold) {
    QTemporaryDir home;
    // A file where the folder should be: nobody, root included, can save there.
    writeFile(home.path() + QStringLiteral("/velmora"), "not a folder");
    QtDefaults defaults(home.path() + QStringLiteral("/velmora/velmora.conf"));
    ASSERT_TRUE(defaults.storageProblem());
    EXPECT_NE(defaults.storageProblem()->find(home.path().toStdString()), std::string::npos);
    defaults.setString("selectedModel", "m2");
    EXPECT_EQ(defaults.stringForKey("selectedModel"), "m2");
}

TEST(QtDefaults, AFileThatIsNoSettingsFileIsReportedAndLeftAsItIs) {
    QTemporaryDir home;
    const QString fifo = home.path() + QStringLiteral("/fifo.conf");
    const QString zero = home.path() + QStringLiteral("/zero.conf");
    const QString large = home.path() + QStringLiteral("/large.conf");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    writeFile(large, "[General]\nk=" + QByteArray(1024 * 1024, '\xE9'));
    for (const QString& path : {fifo, zero, large}) {
        QtDefaults defaults(path);
        ASSERT_TRUE(defaults.readProblem()) << path.toStdString();
        EXPECT_NE(defaults.readProblem()->find(path.toStdString()), std::string::npos);
        EXPECT_FALSE(defaults.storageProblem());
        EXPECT_EQ(defaults.stringForKey("k"), std::nullopt);
        defaults.setString("selectedModel", "m2");
        EXPECT_EQ(defaults.stringForKey("selectedModel"), "m2");
        EXPECT_FALSE(QFile::exists(path + QStringLiteral(".damaged")));
    }
    struct stat status {};
    EXPECT_TRUE(::stat(QFile::encodeName(fifo).constData(), &status) == 0 &&
                S_ISFIFO(status.st_mode));
    EXPECT_EQ(QFileInfo(zero).symLinkTarget(), QStringLiteral("/dev/zero"));
    EXPECT_FALSE(contents(large).contains("selectedModel"));
}

}  // namespace
}  // namespace velmora::desktop
