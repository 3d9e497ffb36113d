#pragma once

#include "core/log/LogSink.h"
#include "core/log/Logger.h"

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::test {

struct RecordingSink : core::LogSink {
    void write(const core::LogRecord& record) override { records.push_back(record); }
    std::vector<core::LogRecord> records;
};

// A logger of the test's own whose records can be read back.
struct RecordingLogger {
    RecordingLogger() { logger.addSink(sink); }
    const std::vector<core::LogRecord>& records() const { return sink->records; }

    core::Logger logger;
    std::shared_ptr<RecordingSink> sink = std::make_shared<RecordingSink>();
};

inline QString qPath(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

inline QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        throw std::runtime_error("cannot write test file " + path.toStdString());
    }
}

inline QJsonObject readJsonObject(const QString& path) { return QJsonDocument::fromJson(readBytes(path)).object(); }

}  // namespace ostrel::test
