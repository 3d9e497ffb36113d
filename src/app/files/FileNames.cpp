#include "app/files/FileNames.h"

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

}  // namespace ostrel::app
