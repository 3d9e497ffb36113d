#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <initializer_list>
#include <string_view>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

// The names of the files in folder that end with one of the suffixes (in any case) but are
// not valid UTF-8, as their raw bytes. Qt lists such a name as text that names no file, so
// the lists leave it out; these are what the person should be told about. Hidden names
// (a leading '.') are left out too.
QList<QByteArray> namesNotUtf8(const QString& folder, std::initializer_list<std::string_view> suffixes);

// Warns once per name for the life of `warned`: "<what> <name shown with replacement
// characters> in <folder> is skipped: its name is not valid UTF-8 (rename the file)".
void warnNamesNotUtf8(const QString& folder, std::initializer_list<std::string_view> suffixes, const char* what,
                      const char* category, core::Logger& logger, QSet<QByteArray>& warned);

}  // namespace ostrel::app
