#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <string>

namespace ostrel::core {
class Logger;
class SettingsStore;
struct SettingsRegistry;
}  // namespace ostrel::core

namespace ostrel::app {

// Where accepted changes go: into the settings file after each one, or only into this
// run (a demonstration leaves the user's file as it found it).
enum class SettingsSaving { ToFile, ThisRunOnly };

// The context object `settings` and the one way in which the window and the controllers
// read and change settings: converts what the QML gives to the setting's type, lets the
// store validate it, saves the file after every accepted change and signals it.
// GUI thread only; takes no lock.
class SettingsBridge : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantList categories READ categories CONSTANT)
    Q_PROPERTY(int revision READ revision NOTIFY revisionChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY revisionChanged)
    Q_PROPERTY(bool showHelpStrip READ showHelpStrip NOTIFY revisionChanged)
    Q_PROPERTY(bool restartNeeded READ restartNeeded NOTIFY restartNeededChanged)
    Q_PROPERTY(QString filePath READ filePath CONSTANT)

public:
    // Keeps the references; the store and registry must outlive the bridge.
    SettingsBridge(core::SettingsStore& store, const core::SettingsRegistry& registry, QString filePath,
                   core::Logger& logger, QObject* parent = nullptr);

    // One {"id", "label", "hasAdvanced"} per category, in registry order; built at every read.
    QVariantList categories() const;
    // Effective changes since start: the QML's change clock for entries and search.
    int revision() const { return revision_; }
    bool reduceMotion() const;
    bool showHelpStrip() const;
    bool restartNeeded() const { return restartNeeded_; }
    QString filePath() const { return filePath_; }
    // The store behind the bridge, for what it knows of the settings file it read.
    core::SettingsStore& store() { return store_; }

    Q_INVOKABLE QVariantList entries(const QString& category, bool showAdvanced) const;
    // Settings whose label, or else help sentence, holds the trimmed text, in any case.
    Q_INVOKABLE QVariantList search(const QString& text, bool showAdvanced) const;
    Q_INVOKABLE bool hasAdvanced(const QString& category) const;
    // False for an unknown id or a refused value. A save failure is logged and the change
    // stays in force, so the result is still true.
    Q_INVOKABLE bool setValue(const QString& id, const QVariant& value);
    Q_INVOKABLE void resetToDefault(const QString& id);
    // Invalid for an unknown id.
    Q_INVOKABLE QVariant value(const QString& id) const;

    // From now on; ToFile at construction.
    void setSaving(SettingsSaving saving) { saving_ = saving; }

    // Whether the settings file holds the setting's current value: false after a change
    // whose save failed, until a later save succeeds (changes kept to this run count as
    // held). The API token is of no use to a client until it is.
    bool isSaved(const QString& id) const { return !unsaved_.contains(id); }
    // Saves the file again when an earlier save failed, logged as any failed save. False,
    // with the reason in error, when the file still does not hold every value.
    [[nodiscard]] bool saveAgain(std::string* error);

    // A line the setting's row shows under its help while it is not empty, for what the
    // program found when it acted on the setting ("the port is in use"). Empty clears it.
    // The rows are rebuilt through revisionChanged; revision itself does not move.
    void setNote(const QString& id, const QString& text);
    QString note(const QString& id) const { return notes_.value(id); }

signals:
    void valueChanged(QString id);
    void revisionChanged();
    void restartNeededChanged();

private:
    // The entry with its row's "note" ("" when there is none).
    QVariantMap withNote(QVariantMap entry) const;
    [[nodiscard]] bool save(std::string* error);

    core::SettingsStore& store_;
    const core::SettingsRegistry& registry_;
    QString filePath_;
    core::Logger& logger_;
    QHash<QString, QString> notes_;
    QSet<QString> unsaved_;  // changed since the last save that succeeded
    SettingsSaving saving_ = SettingsSaving::ToFile;
    int revision_ = 0;
    bool restartNeeded_ = false;  // once true, stays true until the program ends
};

}  // namespace ostrel::app
