#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QQmlEngine;
class QQuickItem;

namespace ostrel::core {
class Logger;
class SettingsStore;
struct SettingsRegistry;
}  // namespace ostrel::core

namespace ostrel::app {
class AppController;
class AudioController;
class SettingsBridge;
class ThemeManager;
class TransportController;
}  // namespace ostrel::app

namespace ostrel::test {

// Stands in for the project controller: only what the transport bar reads.
class ProjectStandIn : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool recording READ recording WRITE setRecording NOTIFY recordingChanged)

public:
    bool recording() const { return recording_; }
    void setRecording(bool on);

signals:
    void recordingChanged();

private:
    bool recording_ = false;
};

// The context objects of the QML suites, the context object `testHost` itself, and the
// calls a suite needs beyond them. Settings and logs go to a temporary folder.
class QmlTestHost : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString galleryFolder READ galleryFolder CONSTANT)

public:
    QmlTestHost();
    ~QmlTestHost() override;

    // Gives the engine the context objects.
    void attach(QQmlEngine& engine);

    // Where the gallery writes its pictures: $OSTREL_GALLERY_DIR, else a folder in the
    // system's temporary folder.
    QString galleryFolder() const { return galleryFolder_; }

    // Puts a stand-in (or, with null, the real controller back) in place of a context
    // object; bindings on it are evaluated again.
    Q_INVOKABLE void replaceContextObject(const QString& name, QObject* standIn);
    // Back to the real controllers and a fresh stand-in state, stopped, at 120 beats per
    // minute with the metronome and the loop off.
    Q_INVOKABLE void resetControllers();
    // A pointer move over item with buttons held and modifiers, delivered through its window:
    // the test library's moves carry no modifiers.
    Q_INVOKABLE void moveMouse(QQuickItem* item, qreal x, qreal y, int buttons, int modifiers);
    // A key press as the keyboard repeats it while held, delivered through item's window.
    Q_INVOKABLE void pressRepeatedKey(QQuickItem* item, int key);

private:
    QObject* realObject(const QString& name) const;

    QTemporaryDir folder_;
    QString galleryFolder_;
    std::unique_ptr<core::Logger> logger_;
    std::unique_ptr<core::SettingsRegistry> registry_;
    std::unique_ptr<core::SettingsStore> store_;
    std::unique_ptr<app::ThemeManager> themes_;
    std::unique_ptr<app::AppController> app_;
    std::unique_ptr<app::SettingsBridge> settings_;
    std::unique_ptr<app::AudioController> audio_;
    std::unique_ptr<app::TransportController> transport_;
    std::unique_ptr<ProjectStandIn> project_;
    QPointer<QQmlEngine> engine_;
};

}  // namespace ostrel::test
