// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder's window on a real X server under openbox, with the controller on fakes: the buttons
// through the states a player sees (saved as screenshots), and what the window manager lets a player do.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMenuBar>
#include <QTest>
#include <atomic>
#include <cstdio>
#include <iostream>

#include "FakeRecorder.h"
#include "MovieProbe.h"
#include "QtMainThread.h"
#include "RecorderWindow.h"
#include "TestDesktop.h"

namespace vidora {
namespace {

using namespace std::chrono_literals;
using testing::run;

// The time of day; sleeps last until release, so each background loop makes one pass and then stays
// out of the way of the states the test sets up.
class HeldClock final : public tavrin::Clock {
public:
    tavrin::Date now() const override { return std::chrono::system_clock::now(); }
    void sleepFor(std::chrono::milliseconds) override { released.wait(false); }
    std::atomic<bool> released = false;
};

class WindowTest : public ::testing::Test, protected testing::Seams {
protected:
    // Wired as the application wires it; the window goes before the controller.
    WindowTest() {
        desktop.applications = {testing::app("org.example.Editor", "Editor")};
        view.changed = [this] { window.content().render(); };
        QDir().mkpath(QStringLiteral(VIDORA_WINDOW_ARTIFACTS));
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    ~WindowTest() override {
        clock.released = true;
        clock.released.notify_all();
    }

    void screenshot(const QString& name) {
        EXPECT_TRUE(window.grab().save(QStringLiteral(VIDORA_WINDOW_ARTIFACTS "/%1.png").arg(name)))
            << name.toStdString();
    }
    void click(FaceButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }
    // What a screen reader says of each button.
    std::string purposes() {
        return QStringList{record().accessibleName(), microphone().accessibleName(),
                           display().accessibleName()}
            .join(QStringLiteral(", "))
            .toStdString();
    }

    FaceButton& record() { return window.content().recordButton(); }
    FaceButton& microphone() { return window.content().microphoneButton(); }
    FaceButton& display() { return window.content().displayButton(); }

    HeldClock clock;
    LogFiles commands{clock, locations};
    ContentView view{[this] {
        auto seams = platform(commands, clock);
        seams.getDisplays = [] { return std::vector<DisplaySummary>{{7, 1920, 1080}}; };
        seams.screenNames = screenNames;
        seams.mainQueue = runOnMainThread;
        return seams;
    }()};
    RecorderWindow window{
        view, MenuActions{.addonArchive = std::nullopt, .locations = locations, .reveal = {}, .open = {}}};
};

TEST_F(WindowTest, ButtonsFollowTheControllerAndTheWindowManagerKeepsTheSize) {
    // Before the first list: the placeholder display, nothing can be pressed.
    EXPECT_FALSE(record().isEnabled());
    EXPECT_FALSE(microphone().isEnabled());
    EXPECT_FALSE(display().isEnabled());
    screenshot(QStringLiteral("1-waiting"));

    view.onAppear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.recordEnable() && view.displays().size() == 2; }, 10000));
    EXPECT_TRUE(record().isEnabled());
    EXPECT_TRUE(microphone().isEnabled());
    EXPECT_TRUE(display().isEnabled());
    EXPECT_EQ(display().face().corner, "1 / 2");
    screenshot(QStringLiteral("2-idle"));
    const QImage idleRecord = record().grab().toImage();
    EXPECT_EQ(purposes(), "Start recording, Microphone off, Choose what to record");

    // The keyboard alone: Tab to the display button and Space; the keys M and R.
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(&window, Qt::Key_Tab);
    }
    ASSERT_EQ(QApplication::focusWidget(), &display());
    QTest::keyClick(&display(), Qt::Key_Space);
    EXPECT_EQ(display().face().caption, "Editor");
    EXPECT_FALSE(display().face().picture.isNull());
    QTest::keyClick(&window, Qt::Key_M);
    EXPECT_TRUE(QTest::qWaitFor([&] { return microphone().face().symbol == "mic.fill"; }, 2000));
    QTest::keyClick(&window, Qt::Key_R);
    // The start runs on the controller's own task.
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.recording.load(); }, 5000));
    recorder.started = clock.now() - 75s;
    ticks();
    EXPECT_EQ(record().face().symbol, "stop");
    EXPECT_EQ(record().face().caption, "01:15");
    EXPECT_EQ(purposes(), "Stop recording, Microphone on, Choose what to record");
    EXPECT_NE(record().grab().toImage(), idleRecord);
    EXPECT_FALSE(display().isEnabled());
    screenshot(QStringLiteral("3-recording"));

    click(record());
    EXPECT_EQ(recorder.stops, 1);
    EXPECT_EQ(record().face().symbol, "record.circle");
    EXPECT_TRUE(display().isEnabled());
    // A list shorter than the index brings the display button (hidden past the list) back to the first.
    view.searchApps({{7, 1920, 1080}}, {});
    EXPECT_TRUE(display().isVisible());
    EXPECT_EQ(display().face().corner, "1 / 1");
    screenshot(QStringLiteral("4-shorter-list"));

    const std::string id = std::to_string(window.winId());
    // Openbox offers minimising whatever a window asks, so the window's own request is checked: no
    // minimise (0x08) or maximise (0x10) function, no such buttons (0x20, 0x40), yet some decoration.
    const std::string motif = run("xprop -id " + id + " _MOTIF_WM_HINTS");
    unsigned flags = 0, functions = 0, decorations = 0;
    ASSERT_EQ(std::sscanf(motif.c_str(), "%*[^=]= %x, %x, %x", &flags, &functions, &decorations), 3) << motif;
    EXPECT_EQ(functions & 0x18u, 0u) << motif;
    EXPECT_EQ(decorations & 0x60u, 0u) << motif;
    EXPECT_NE(decorations, 0u) << motif;
    // A client asking for another size gets none.
    run("xdotool windowsize " + id + " 800 600");
    QTest::qWait(500);
    EXPECT_EQ(run("xdotool getwindowgeometry --shell " + id + " | grep WIDTH"), "WIDTH=430\n");
    screenshot(QStringLiteral("5-window"));
    EXPECT_EQ(window.menuBar()->actions().size(), 3);  // Download, Recordings and Help
}

// An application without a window icon shows its desktop entry's Icon (here a file's path), not the symbol.
TEST_F(WindowTest, ApplicationFaceShowsTheDesktopEntryIcon) {
    const QString file = QStringLiteral(VIDORA_WINDOW_ARTIFACTS "/entry-icon.png");
    QImage dot(16, 16, QImage::Format_ARGB32);
    dot.fill(Qt::red);
    ASSERT_TRUE(dot.save(file));
    Icon themed;
    themed.symbolName = "app";
    themed.themeName = file.toStdString();
    const auto face = ContentWidget::displayFace({.displayID = 0,
                                                  .name = "A",
                                                  .title = "",
                                                  .detail = "a",
                                                  .icon = std::make_shared<const Icon>(themed)},
                                                 false, QString());
    EXPECT_EQ(face.picture.pixelColor(8, 8), QColor(Qt::red));
}

}  // namespace
}  // namespace vidora

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();  // test discovery needs no desktop
    }
    vidora::testing::TestDisplay desktop;
    if (!desktop.ready()) {
        std::cerr << "no Xvfb with openbox\n";
        return 1;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
