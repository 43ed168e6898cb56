// SPDX-License-Identifier: MIT
// The desktop entry we install, read the way desktop menus and notification servers read it.
#include "platform/linux/DesktopEntry.h"
#include "platform/linux/FreedesktopNotificationCenter.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <filesystem>
#include <gtest/gtest.h>

namespace exitwise::platform {
namespace {

const QString kEntryFile = QStringLiteral(EXITWISE_DESKTOP_FILE);

TEST(ShippedDesktopEntry, PassesDesktopFileValidateWithoutAnyRemark)
{
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (validator.isEmpty()) {
        GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(validator, {kEntryFile});
    ASSERT_TRUE(process.waitForFinished(30000));

    // It exits with 0 even after hints and warnings: any output is a remark.
    const QString output = QString::fromUtf8(process.readAll());
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();
    EXPECT_EQ(output, QString());
}

TEST(ShippedDesktopEntry, NamesTheApplicationTheNotificationsComeFrom)
{
    // Servers find our entry by the desktop-entry hint, so the file must carry that name.
    EXPECT_EQ(std::filesystem::path(kEntryFile.toStdString()).stem(),
              std::string(FreedesktopNotificationCenter::kDesktopEntry));
    EXPECT_EQ(desktopEntryIconName(kEntryFile.toStdString()), "exitwise");

    QFile file(kEntryFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    // GNOME lists an application under its notification settings only with this key.
    EXPECT_TRUE(lines.contains("X-GNOME-UsesNotifications=true"));
}

} // namespace
} // namespace exitwise::platform
