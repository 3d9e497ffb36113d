#include "QmlTestHost.h"

#include "app/AppController.h"
#include "app/AudioController.h"
#include "app/SettingsBridge.h"
#include "app/ThemeManager.h"
#include "app/TransportController.h"
#include "core/Logger.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "platform/NullAudioBackend.h"

#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickStyle>
#include <QQuickWindow>

namespace ostrel::test {

void ProjectStandIn::setRecording(bool on) {
    if (on != recording_) {
        recording_ = on;
        emit recordingChanged();
    }
}

QmlTestHost::QmlTestHost()
    : logger_(std::make_unique<core::Logger>()),
      registry_(std::make_unique<core::SettingsRegistry>(core::buildSettingsRegistry())),
      store_(std::make_unique<core::SettingsStore>(*registry_)) {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    const QString gallery = qEnvironmentVariable("OSTREL_GALLERY_DIR");
    galleryFolder_ = gallery.isEmpty() ? QDir::temp().filePath(QStringLiteral("ostrel-gallery")) : gallery;
    QDir().mkpath(galleryFolder_);

    themes_ = std::make_unique<app::ThemeManager>();
    themes_->loadThemeFolder(QStringLiteral(":/themes"));
    themes_->setCurrentId(QStringLiteral("graphite"));
    app_ = std::make_unique<app::AppController>(*logger_, folder_.filePath(QStringLiteral("ostrel.log")));
    settings_ = std::make_unique<app::SettingsBridge>(*store_, *registry_,
                                                      folder_.filePath(QStringLiteral("settings.json")), *logger_);
    audio_ = std::make_unique<app::AudioController>(std::make_unique<engine::NullAudioBackend>(), *settings_, *logger_);
    transport_ = std::make_unique<app::TransportController>(*audio_, *logger_, settings_.get());
    project_ = std::make_unique<ProjectStandIn>();
}

QmlTestHost::~QmlTestHost() = default;

void QmlTestHost::attach(QQmlEngine& engine) {
    engine_ = &engine;
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
    QQmlContext* context = engine.rootContext();
    for (const QString& name : {QStringLiteral("theme"), QStringLiteral("app"), QStringLiteral("settings"),
                                QStringLiteral("audio"), QStringLiteral("transport"), QStringLiteral("project")}) {
        context->setContextProperty(name, realObject(name));
    }
    context->setContextProperty(QStringLiteral("testHost"), this);
}

QObject* QmlTestHost::realObject(const QString& name) const {
    if (name == QLatin1String("theme")) return themes_.get();
    if (name == QLatin1String("app")) return app_.get();
    if (name == QLatin1String("settings")) return settings_.get();
    if (name == QLatin1String("audio")) return audio_.get();
    if (name == QLatin1String("transport")) return transport_.get();
    if (name == QLatin1String("project")) return project_.get();
    return nullptr;
}

void QmlTestHost::replaceContextObject(const QString& name, QObject* standIn) {
    if (engine_ != nullptr) {
        engine_->rootContext()->setContextProperty(name, standIn != nullptr ? standIn : realObject(name));
    }
}

void QmlTestHost::resetControllers() {
    for (const QString& name : {QStringLiteral("audio"), QStringLiteral("transport"), QStringLiteral("project")}) {
        replaceContextObject(name, nullptr);
    }
    transport_->stop();
    transport_->setMetronome(false);
    transport_->setLoopEnabled(false);
    transport_->setTempo(120.0);
    project_->setRecording(false);
}

void QmlTestHost::moveMouse(QQuickItem* item, qreal x, qreal y, int buttons, int modifiers) {
    QQuickWindow* window = item != nullptr ? item->window() : nullptr;
    if (window == nullptr) {
        return;
    }
    const QPointF scene = item->mapToScene(QPointF(x, y));
    QMouseEvent event(QEvent::MouseMove, scene, scene, window->mapToGlobal(scene), Qt::NoButton,
                      Qt::MouseButtons(buttons), Qt::KeyboardModifiers(modifiers));
    QGuiApplication::sendEvent(window, &event);
}

void QmlTestHost::pressRepeatedKey(QQuickItem* item, int key) {
    QQuickWindow* window = item != nullptr ? item->window() : nullptr;
    if (window == nullptr) {
        return;
    }
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, QString(), true);
    QGuiApplication::sendEvent(window, &event);
}

}  // namespace ostrel::test
