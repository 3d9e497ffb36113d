// Runs the tst_*.qml suites of this folder against the real `theme`, `app` and `settings`
// objects and the real `audio`, `instrument`, `midi` and `transport` controllers over a sound
// card that renders only when a test asks and a MIDI driver whose inputs the suites plug in,
// and the real `project` controller with its folders in a temporary folder.
//
// Six screens without a display: the first, a 2560 x 1440 screen where every window opens
// unless placed, as the program sees one without an interface size, and five scaled by Qt
// exactly as the interface sizes 75, 125, 150 and 200 % scale the program's window
// (appearance.ui_scale sets QT_SCALE_FACTOR; these set the same factor for one screen each),
// on the screens people have: 1366 x 768 at 75 and 125 %, 1920 x 1080 at 150 and 200 %, and
// 1366 x 768 at 150 %, too small for the smallest window.

#include "QmlTestHost.h"

#include <QtQml/QQmlExtensionPlugin>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(Ostrel_AppPlugin)

namespace {

class Setup : public QObject {
    Q_OBJECT

public:
    // Before the test application exists: it picks its platform when it is made.
    Setup() {
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" QUICK_TEST_SOURCE_DIR "/screens.json");
        qputenv("QT_SCREEN_SCALE_FACTORS",
                "interface-100=1;interface-75=0.75;interface-125=1.25;interface-150=1.5;interface-200=2;"
                "laptop-150=1.5");
        qunsetenv("QT_SCALE_FACTOR");
    }

public slots:
    void applicationAvailable() { host_ = std::make_unique<ostrel::test::QmlTestHost>(); }
    // Once per test file: each file runs in an engine of its own.
    void qmlEngineAvailable(QQmlEngine* engine) { host_->attach(*engine); }
    void cleanupTestCase() { host_.reset(); }

private:
    std::unique_ptr<ostrel::test::QmlTestHost> host_;
};

}  // namespace

QUICK_TEST_MAIN_WITH_SETUP(ostrel_qml, Setup)

#include "QmlTestSetup.moc"
