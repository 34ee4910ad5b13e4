// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QLineEdit>
#include <filesystem>

#include "RecorderSettings.h"
#include "SettingsWindow.h"
#include "TemporaryFolder.h"

namespace vidora {
namespace {

// What is typed is checked before it is saved; what is saved is what the proxy and the storage limit read.
TEST(SettingsWindow, RefusesWhatCannotBeUsedAndSavesTheRest) {
    tavrin::testing::TemporaryFolder home;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(home.path()));
    SettingsWindow window("/default");
    const auto accepted = [&](const QString& limit, const std::string& folder) {
        window.limit().setText(limit);
        window.folder().setText(QString::fromStdString(folder));
        window.accept();
        EXPECT_NE(window.problem().isEmpty(), window.result() == QDialog::Rejected) << limit.toStdString();
        return window.result() == QDialog::Accepted;
    };
    EXPECT_FALSE(accepted("-1", home.path()));
    EXPECT_FALSE(accepted("fifty", home.path()));
    EXPECT_FALSE(accepted("5", "/proc/movies"));
    EXPECT_FALSE(accepted("5", "movies"));
    EXPECT_EQ(storageLimitGB(), defaultStorageLimit);
    EXPECT_TRUE(accepted(" 0.2", home.file("movies/")));
    EXPECT_EQ(storageLimitBytes(), 200'000'000u);
    EXPECT_EQ(tavrin::chosenMoviesFolder(), home.file("movies"));
    EXPECT_TRUE(std::filesystem::exists(home.file("Tavrinworks/Vidora.conf")));
}

}  // namespace
}  // namespace vidora
