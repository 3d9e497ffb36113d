// Runs the tst_*.qml suites of this folder against the real `theme`, `app` and `settings`
// objects and the real `audio`, `instrument`, `midi` and `transport` controllers over a sound
// card that renders only when a test asks and a MIDI driver whose inputs the suites plug in,
// and the real `project` controller with its folders in a temporary folder.

#include "QmlTestHost.h"

#include <QtQml/QQmlExtensionPlugin>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(Ostrel_AppPlugin)

namespace {

class Setup : public QObject {
    Q_OBJECT

public:
    // Before the test application exists: it picks its platform when it is made.
    Setup() { qputenv("QT_QPA_PLATFORM", "offscreen"); }

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
