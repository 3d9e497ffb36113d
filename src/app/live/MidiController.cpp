#include "app/live/MidiController.h"

#include "app/live/InstrumentController.h"
#include "app/settings/SettingsBridge.h"
#include "core/log/Logger.h"
#include "engine/Event.h"
#include "engine/MidiMessage.h"

#include <QCoreApplication>
#include <QVariantMap>

#include <string>

namespace ostrel::app {
namespace {

const QString kInputSetting = QStringLiteral("midi.input_device");

}  // namespace

MidiController::MidiController(std::unique_ptr<engine::IMidiBackend> backend, SettingsBridge& settings,
                               InstrumentController& instrument, core::Logger& logger, QObject* parent)
    : QObject(parent),
      backend_(std::move(backend)),
      settings_(settings),
      instrument_(instrument),
      logger_(logger) {
    refreshDevices();
    if (!selectedDeviceId().isEmpty()) {
        openSelectedDevice();
    } else {
        setStatus(QStringLiteral("No MIDI keyboard selected."), false);
    }
    if (QCoreApplication::instance() != nullptr) {
        pollTimer_.setTimerType(Qt::PreciseTimer);
        pollTimer_.setInterval(kPollIntervalMs);
        connect(&pollTimer_, &QTimer::timeout, this, &MidiController::pollMessages);
        updatePollTimer();
        watchTimer_.setInterval(kWatchIntervalMs);
        connect(&watchTimer_, &QTimer::timeout, this, &MidiController::watchDevice);
        watchTimer_.start();
    }
}

// The input closes first, so no driver callback can still be writing into the ring.
MidiController::~MidiController() { backend_->close(); }

QString MidiController::selectedDeviceId() const { return settings_.value(kInputSetting).toString(); }

bool MidiController::connected() const { return backend_->isOpen(); }

void MidiController::refreshDevices() {
    driverName_ = QString::fromStdString(backend_->name());
    devices_.clear();
    for (const engine::MidiInputInfo& input : backend_->listInputs()) {
        devices_.append(QVariantMap{{QStringLiteral("id"), QString::fromStdString(input.id)},
                                    {QStringLiteral("name"), QString::fromStdString(input.name)}});
    }
    emit devicesChanged();
}

void MidiController::selectDevice(const QString& id) {
    logger_.recordStep("midi", "selected MIDI device " + (id.isEmpty() ? std::string("(none)") : id.toStdString()));
    closeInput();
    waitingForDevice_ = false;
    settings_.setValue(kInputSetting, id);
    emit selectionChanged();
    if (id.isEmpty()) {
        setStatus(QStringLiteral("No MIDI keyboard selected."), false);
    } else {
        openSelectedDevice();
    }
    emit statusChanged();  // also tells `connected`
}

void MidiController::openSelectedDevice() {
    const QString id = selectedDeviceId();
    const core::ActionScope action("MIDI > open input device " + id.toStdString(), logger_);
    std::string error;
    if (backend_->open(id.toStdString(), &MidiController::onInputMessage, this, &error)) {
        waitingForDevice_ = false;
        updatePollTimer();
        logger_.log(core::LogLevel::INFO, "midi",
                    "listening to MIDI device " + id.toStdString() + " (" + backend_->name() + ")");
        setStatus(QStringLiteral("Listening to %1. Play a key.").arg(id), false);
        return;
    }
    if (error.find("not plugged in") != std::string::npos) {
        waitingForDevice_ = true;
        setStatus(QStringLiteral("\u201C%1\u201D is not plugged in. Ostrel will connect when it appears.").arg(id), false);
        return;
    }
    logger_.log(core::LogLevel::WARN, "midi", error);
    waitingForDevice_ = false;
    setStatus(QStringLiteral("Could not open the MIDI keyboard: %1").arg(QString::fromStdString(error)), true);
}

void MidiController::closeInput() {
    backend_->close();
    updatePollTimer();
    instrument_.releaseMidiNotes();
    // No callback runs once close has returned, so the ring has no producer now.
    ring_.discardAll();
}

void MidiController::updatePollTimer() {
    if (QCoreApplication::instance() == nullptr) return;
    const bool open = backend_->isOpen();
    if (open && !pollTimer_.isActive()) {
        pollTimer_.start();
    } else if (!open && pollTimer_.isActive()) {
        pollTimer_.stop();
    }
}

void MidiController::setStatus(const QString& text, bool problem) {
    if (text == status_ && problem == problem_) return;
    status_ = text;
    problem_ = problem;
    emit statusChanged();
}

void MidiController::watchDevice() {
    refreshDevices();
    const QString id = selectedDeviceId();
    if (id.isEmpty()) return;
    bool present = false;
    for (const QVariant& device : std::as_const(devices_)) {
        if (device.toMap().value(QStringLiteral("id")).toString() == id) {
            present = true;
            break;
        }
    }
    const bool open = backend_->isOpen();
    if (open && !present) {
        logger_.log(core::LogLevel::WARN, "midi", "the MIDI device disconnected: " + id.toStdString());
        closeInput();
        waitingForDevice_ = true;
        setStatus(QStringLiteral("\u201C%1\u201D was unplugged. Ostrel will reconnect when it is plugged in again.").arg(id),
                  true);
    } else if (!open && present && waitingForDevice_) {
        openSelectedDevice();
    }
}

void MidiController::onInputMessage(void* user, const std::uint8_t* bytes, std::uint32_t length) {
    // A full ring drops the newest message: the GUI thread has not drained for a long time.
    static_cast<MidiController*>(user)->ring_.push(engine::packMidiInputWord(bytes, length));
}

void MidiController::pollMessages() {
    bool decoded = false;
    MidiInputWord word = 0;
    while (ring_.pop(word)) {
        std::uint8_t bytes[3];
        const int length = static_cast<int>(engine::unpackMidiInputWord(word, bytes));
        engine::Event event;
        if (!engine::parseMidiMessage(bytes, length, event)) continue;
        ++messageCount_;
        lastMessage_ = QString::fromStdString(engine::describeMidiMessage(bytes, length));
        decoded = true;
        instrument_.handleMidiMessage(event);
    }
    if (decoded) emit activity();
}

}  // namespace ostrel::app
