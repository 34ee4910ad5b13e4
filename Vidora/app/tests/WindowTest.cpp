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
#include "TemporaryFolder.h"
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

class WindowTest : public ::testing::Test {
protected:
    // Wired as the application wires it; the window goes before the controller.
    WindowTest() {
        desktop.applications = {testing::app("org.example.Editor", "Editor")};
        view.changed = [this] { window.content().render(); };
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    ~WindowTest() override {
        clock.released = true;
        clock.released.notify_all();
    }

    // The controller's first pass: capture is possible, then the display and the application listed.
    void appear() {
        view.onAppear();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return view.recordEnable() && view.displays().size() == 2; }, 10000));
    }
    void screenshot(const QString& name) {
        QDir().mkpath(QStringLiteral(VIDORA_WINDOW_ARTIFACTS));
        const QString path = QStringLiteral(VIDORA_WINDOW_ARTIFACTS "/%1.png").arg(name);
        EXPECT_TRUE(window.grab().save(path)) << path.toStdString();
        std::cout << "screenshot: " << path.toStdString() << std::endl;
    }
    void click(FaceButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }

    FaceButton& record() { return window.content().recordButton(); }
    FaceButton& microphone() { return window.content().microphoneButton(); }
    FaceButton& display() { return window.content().displayButton(); }

    tavrin::testing::TemporaryFolder home;
    MovieLocations locations{[this](std::string_view name) -> std::optional<std::string> {
        return name == "HOME" ? std::optional(home.path()) : std::nullopt;
    }};
    HeldClock clock;
    LogFiles commands{clock, locations};
    testing::FakeRecorder recorder;
    testing::FakeDesktop desktop;
    std::function<void()> ticks;
    ContentView view{{.recorder = recorder,
                      .commands = commands,
                      .locations = locations,
                      .clock = clock,
                      .workspace = desktop,
                      .getDisplays =
                          [] {
                              return std::vector<DisplaySummary>{{7, 1920, 1080}};
                          },
                      .screenNames = screenNames,
                      .mainQueue = runOnMainThread,
                      .startTimer = [this](std::function<void()> tick) -> std::unique_ptr<RepeatingTimer> {
                          ticks = std::move(tick);
                          return std::make_unique<RepeatingTimer>();
                      },
                      .alertSound = [] {}}};
    RecorderWindow window{
        view, MenuActions{.addonArchive = std::nullopt, .locations = locations, .reveal = {}, .open = {}},
        QString()};
};

TEST_F(WindowTest, ButtonsFollowTheControllerFromWaitingThroughRecording) {
    // Before the first list: the placeholder display, nothing can be pressed.
    EXPECT_EQ(record().face().symbol, "record.circle");
    EXPECT_FALSE(record().isEnabled());
    EXPECT_FALSE(microphone().isEnabled());
    EXPECT_EQ(display().face().symbol, "display");
    EXPECT_EQ(display().face().lines, (QStringList{"1", "1920 x 1080", "Display"}));
    EXPECT_EQ(display().face().corner, "1 / 1");
    EXPECT_FALSE(display().isEnabled());
    screenshot(QStringLiteral("1-waiting"));

    appear();
    EXPECT_TRUE(record().isEnabled());
    EXPECT_EQ(microphone().face().symbol, "mic.slash");
    EXPECT_TRUE(microphone().isEnabled());
    EXPECT_TRUE(display().isEnabled());
    EXPECT_EQ(display().face().lines.value(1), "1920 x 1080");
    EXPECT_FALSE(display().face().lines.value(2).isEmpty());
    EXPECT_EQ(display().face().corner, "1 / 2");
    screenshot(QStringLiteral("2-idle"));
    // The display's lines stay inside the symbol's screen (80 pixels drawn 20 pixels in; its inside
    // lies 7 to 73 across and 12 to 55 down), a pixel clear of its sides: outside that the button
    // looks as it does without them.
    ButtonFace bare = display().face();
    bare.lines.clear();
    FaceButton plain;
    plain.setFace(bare);
    const QImage lined = display().grab().toImage();
    const QImage unlined = plain.grab().toImage();
    for (int y = 0; y < lined.height(); ++y) {
        for (int x = 0; x < lined.width(); ++x) {
            if (!QRect(28, 32, 64, 43).contains(x, y)) {
                ASSERT_EQ(lined.pixel(x, y), unlined.pixel(x, y))
                    << "line outside the screen at " << x << "," << y;
            }
        }
    }
    const QImage idleRecord = record().grab().toImage();

    click(display());
    EXPECT_EQ(display().face().caption, "Editor");
    EXPECT_FALSE(display().face().picture.isNull());
    EXPECT_DOUBLE_EQ(display().face().pictureOpacity, 0.8);
    click(microphone());
    EXPECT_EQ(microphone().face().symbol, "mic.fill");
    click(record());
    ASSERT_TRUE(view.isRecording());
    EXPECT_EQ(recorder.setups, std::vector<std::string>{"org.example.Editor"});
    // The start runs on the controller's own task.
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.recording.load(); }, 5000));
    recorder.started = clock.now() - 75s;
    ticks();
    EXPECT_EQ(record().face().symbol, "stop");
    EXPECT_EQ(record().face().caption, "01:15");
    EXPECT_NE(record().grab().toImage(), idleRecord);
    EXPECT_FALSE(display().isEnabled());
    EXPECT_DOUBLE_EQ(display().face().pictureOpacity, 0.6);
    // The microphone stays live during a recording; pressed while idle it only set the start.
    click(microphone());
    EXPECT_EQ(recorder.micStates, std::vector<bool>{false});
    EXPECT_EQ(microphone().face().symbol, "mic.slash");
    screenshot(QStringLiteral("3-recording"));

    click(record());
    EXPECT_EQ(recorder.stops, 1);
    EXPECT_EQ(record().face().symbol, "record.circle");
    EXPECT_TRUE(record().face().caption.isEmpty());
    EXPECT_TRUE(display().isEnabled());
    EXPECT_DOUBLE_EQ(display().face().pictureOpacity, 0.8);

    // A list shorter than the index brings the display button (hidden past the list) back to the first.
    view.searchApps({{7, 1920, 1080}}, {});
    EXPECT_TRUE(display().isVisible());
    EXPECT_EQ(display().face().corner, "1 / 1");
    EXPECT_EQ(display().face().symbol, "display");
    screenshot(QStringLiteral("4-shorter-list"));
}

TEST_F(WindowTest, WindowKeepsItsSizeAndAsksForNoMinimiseOrMaximise) {
    const std::string id = std::to_string(window.winId());
    std::string actions;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            actions = run("xprop -id " + id + " _NET_WM_ALLOWED_ACTIONS");
            return actions.find("_NET_WM_ACTION_CLOSE") != std::string::npos;
        },
        10000))
        << actions;
    for (const char* action :
         {"_NET_WM_ACTION_RESIZE", "_NET_WM_ACTION_MAXIMIZE_HORZ", "_NET_WM_ACTION_MAXIMIZE_VERT"}) {
        EXPECT_EQ(actions.find(action), std::string::npos) << action << " in " << actions;
    }
    // Openbox offers minimising for every normal window whatever the window asks (it ignores that part
    // of the Motif hints), so here the window's own request is checked: no minimise (0x08) or maximise
    // (0x10) function, no such buttons (0x20, 0x40), yet some decoration.
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
    EXPECT_EQ(window.width(), 430);
    screenshot(QStringLiteral("5-window"));
    EXPECT_EQ(window.menuBar()->actions().size(), 2);  // Download and Help
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
