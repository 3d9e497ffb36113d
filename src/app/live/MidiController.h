#pragma once

#include "engine/MidiBackend.h"
#include "engine/MidiInputRing.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <cstdint>
#include <memory>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class InstrumentController;
class SettingsBridge;

using MidiInputRing = engine::MidiInputRing;
using MidiInputWord = engine::MidiInputWord;

// The context object `midi`: the MIDI keyboard. Lists the inputs, opens the one chosen in
// the setting midi.input_device, watches every two seconds for it being unplugged and
// plugged in again, and carries each short message from the driver's thread to the GUI
// thread through a lock-free ring, which a 4 ms timer drains while an input is open. Each
// drained message is shown in the monitor and handed to the instrument.
// GUI thread only, except onInputMessage, which runs on the MIDI driver's thread.
class MidiController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString driverName READ driverName NOTIFY devicesChanged)
    Q_PROPERTY(QVariantList devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(QString selectedDeviceId READ selectedDeviceId NOTIFY selectionChanged)
    Q_PROPERTY(bool connected READ connected NOTIFY statusChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool problem READ problem NOTIFY statusChanged)
    Q_PROPERTY(QString lastMessage READ lastMessage NOTIFY activity)
    Q_PROPERTY(int messageCount READ messageCount NOTIFY activity)

public:
    static constexpr int kPollIntervalMs = 4;
    static constexpr int kWatchIntervalMs = 2000;

    MidiController(std::unique_ptr<engine::IMidiBackend> backend, SettingsBridge& settings,
                   InstrumentController& instrument, core::Logger& logger, QObject* parent = nullptr);
    ~MidiController() override;

    QString driverName() const { return driverName_; }
    QVariantList devices() const { return devices_; }
    // The setting midi.input_device; empty for none.
    QString selectedDeviceId() const;
    bool connected() const;
    QString status() const { return status_; }
    bool problem() const { return problem_; }
    QString lastMessage() const { return lastMessage_; }
    int messageCount() const { return messageCount_; }

    Q_INVOKABLE void refreshDevices();
    // Chooses an input; an empty id closes the open one and chooses none.
    Q_INVOKABLE void selectDevice(const QString& id);

    // The poll timer's slot: decodes every waiting message and hands it on.
    void pollMessages();
    // The watch timer's slot: notices the chosen input going away and coming back.
    void watchDevice();
    bool polling() const { return pollTimer_.isActive(); }

    // Handed to the back-end with the controller as user.
    // MIDI driver's thread. Never allocates, locks or logs.
    static void onInputMessage(void* user, const std::uint8_t* bytes, std::uint32_t length);

signals:
    void devicesChanged();
    void selectionChanged();
    void statusChanged();
    // Once per drain that decoded at least one message.
    void activity();

private:
    void openSelectedDevice();
    void closeInput();
    void updatePollTimer();
    void setStatus(const QString& text, bool problem);

    std::unique_ptr<engine::IMidiBackend> backend_;
    SettingsBridge& settings_;
    InstrumentController& instrument_;
    core::Logger& logger_;
    MidiInputRing ring_;  // written by the driver's thread, drained here
    QTimer pollTimer_;
    QTimer watchTimer_;
    QString driverName_;
    QVariantList devices_;
    QString status_;
    bool problem_ = false;
    QString lastMessage_;
    int messageCount_ = 0;
    bool waitingForDevice_ = false;
};

}  // namespace ostrel::app
