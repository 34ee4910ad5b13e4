// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <filesystem>

#include "RecorderSettings.h"
#include "SettingsWindow.h"
#include "TemporaryFolder.h"

namespace vidora {
namespace {

// What is typed is checked before it is saved, each folder refused with why; what is saved is what the
// proxy, the storage limit and the recovery of unfinished movies read.
TEST(SettingsWindow, RefusesWhatCannotBeUsedAndShowsWhatItUnderstood) {
    tavrin::testing::TemporaryFolder home;
    ::setenv("HOME", home.path().c_str(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(home.path()));
    const std::string movies = home.file("Videos/TavrinMovies");  // the default
    std::filesystem::create_directories(movies + "/Kept");
    std::filesystem::create_directories(home.file("drive/movies"));
    SettingsWindow window(QString::fromStdString(movies));
    const auto accepted = [&](const QString& limit, const std::string& folder) {
        window.limit().setText(limit);
        window.folder().setText(QString::fromStdString(folder));
        window.accept();
        EXPECT_NE(window.problem().isEmpty(), window.result() == QDialog::Rejected) << limit.toStdString();
        return window.result() == QDialog::Accepted;
    };
    EXPECT_FALSE(accepted("-1", movies));
    EXPECT_FALSE(accepted("fifty", movies));
    const std::pair<std::string, QString> refusals[] = {
        {"movies", "full path"},
        {home.path(), "home folder"},
        {"/", "system folder"},
        {"/usr/share", "system folder"},
        {movies + "/Kept", "kept for good"},
        {movies + "/../TavrinMovies/.logs", "inside the movies folder"},
        {home.file("unmounted/movies"), "drive mounted"}};
    for (const auto& [folder, why] : refusals) {
        EXPECT_FALSE(accepted("5", folder)) << folder;
        EXPECT_TRUE(window.problem().contains(why)) << window.problem().toStdString();
    }
    EXPECT_EQ(storageLimitGB(), defaultStorageLimit);
    EXPECT_EQ(movieFormat(), ScreenCaptureRecorder::MovieFormat{});  // as captured, 30 frames a second
    window.pictureHeight().setCurrentIndex(window.pictureHeight().findData(720));
    window.frameRate().setCurrentIndex(window.frameRate().findData(60));
    EXPECT_TRUE(accepted(" 0.2", home.file("drive/movies/")));
    EXPECT_EQ(movieFormat(), (ScreenCaptureRecorder::MovieFormat{720, 60}));
    EXPECT_EQ(storageLimitBytes(), 200'000'000u);
    EXPECT_EQ(tavrin::chosenMoviesFolder(), home.file("drive/movies"));
    EXPECT_EQ(earlierMoviesFolders(), std::vector{movies});
    std::filesystem::remove(home.file("drive/movies"));  // its drive unplugged: a limit can still be saved
    SettingsWindow again(QString::fromStdString(movies));
    again.accept();
    EXPECT_EQ(again.result(), QDialog::Accepted) << again.problem().toStdString();

    // A limit edited by hand that cannot be read deletes nothing, and the window shows it as a problem.
    // Typed numbers are read as the person's language writes them, and the window says how it understood
    // them.
    // A picture size or frame rate the window does not offer reads as the default.
    for (const std::string saved : {"500 GB", "unlimited", "-1", "nan", "1,000"}) {
        tavrin::testing::writeFile(home.file("Tavrinworks/Vidora.conf"),
                                   "[storage]\nlimitGB=" + saved + "\n[recorder]\npictureHeight=" + saved +
                                       "\nframeRate=" + saved + "\n");
        EXPECT_EQ(movieFormat(), ScreenCaptureRecorder::MovieFormat{}) << saved;
        QString text;
        EXPECT_EQ(storageLimitBytes(&text), std::nullopt) << saved;
        const SettingsWindow opened(QString::fromStdString(movies));
        EXPECT_TRUE(opened.problem().contains(QString::fromStdString(saved))) << saved;
        EXPECT_EQ(text.toStdString(), saved);
    }
    QLocale::setDefault(QLocale(QLocale::German));
    const std::pair<QString, QString> typed[] = {{"1.000", "Understood as 1000 GB."},
                                                 {"1,5", "Understood as 1,5 GB."},
                                                 {"0.2", "Understood as 0,2 GB."},
                                                 {"0", "No limit: nothing is deleted."}};
    for (const auto& [text, note] : typed) {
        window.limit().setText(text);
        EXPECT_EQ(window.limitNote(), note);
    }
    QLocale::setDefault(QLocale::c());
}

}  // namespace
}  // namespace vidora
