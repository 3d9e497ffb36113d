#include "app/files/FileNames.h"

#include "core/Failure.h"
#include "core/files/FolderLock.h"
#include "core/files/JsonText.h"
#include "core/log/Logger.h"

#include <QFile>

#include <filesystem>
#include <string>
#include <system_error>

namespace ostrel::app {
namespace {

bool endsWithFolded(std::string_view name, std::string_view suffix) {
    if (name.size() < suffix.size()) {
        return false;
    }
    const std::string_view end = name.substr(name.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(end[i]) != lower(suffix[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

QList<QByteArray> namesNotUtf8(const QString& folder, std::initializer_list<std::string_view> suffixes) {
    QList<QByteArray> names;
    if (folder.isEmpty()) {
        return names;
    }
    std::error_code ec;
    const std::filesystem::path path(QFile::encodeName(folder).toStdString());
    for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with('.') || core::isValidUtf8(name)) {
            continue;
        }
        for (std::string_view suffix : suffixes) {
            if (endsWithFolded(name, suffix)) {
                names.append(QByteArray::fromStdString(name));
                break;
            }
        }
    }
    return names;
}

void warnNamesNotUtf8(const QString& folder, std::initializer_list<std::string_view> suffixes, const char* what,
                      const char* category, core::Logger& logger, QSet<QByteArray>& warned) {
    for (const QByteArray& name : namesNotUtf8(folder, suffixes)) {
        if (warned.contains(name)) {
            continue;
        }
        warned.insert(name);
        logger.log(core::LogLevel::WARN, category,
                   std::string(what) + " " + QString::fromUtf8(name).toStdString() + " in " + folder.toStdString() +
                       " is skipped: its name is not valid UTF-8 (rename the file)");
    }
}

QString pathText(const std::filesystem::path& bytes) {
    const std::string& native = bytes.native();
    if (core::isValidUtf8(native)) {
        return QString::fromStdString(native);
    }
    QString text;
    const std::string_view all(native);
    for (std::size_t i = 0; i < all.size();) {
        std::size_t length = 1;
        while (length <= 4 && i + length <= all.size() && !core::isValidUtf8(all.substr(i, length))) {
            ++length;
        }
        if (length <= 4 && i + length <= all.size()) {
            text += QString::fromUtf8(all.data() + i, static_cast<qsizetype>(length));
        } else {
            length = 1;
            text += QChar(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(all[i])));
        }
        i += length;
    }
    return text;
}

std::filesystem::path pathBytes(const QString& text) {
    std::string bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const char16_t unit = i < text.size() ? text[i].unicode() : 0;
        const bool escaped = unit >= 0xDC80 && unit <= 0xDCFF && !(i > 0 && text[i - 1].isHighSurrogate());
        if (i == text.size() || escaped) {
            bytes += text.mid(from, i - from).toStdString();
            if (escaped) {
                bytes += static_cast<char>(unit - 0xDC00);
            }
            from = i + 1;
        }
    }
    return std::filesystem::path(bytes);
}

bool makeFolderToWrite(const QString& folder, std::string* error) {
    if (folder.isEmpty()) {
        return core::fail(error, "no folder is set for it");
    }
    return core::createFoldersToWrite(pathBytes(folder), error);
}

}  // namespace ostrel::app
