#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <filesystem>
#include <initializer_list>
#include <string>
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

// A path's bytes as text and back without loss, where Qt would turn a byte that is not
// valid UTF-8 into U+FFFD and so name another file: such a byte b becomes the lone
// surrogate U+DC00 + b, which no valid name holds. Qt's own file calls cannot reach such a
// text's file; pathBytes can.
QString pathText(const std::filesystem::path& bytes);
std::filesystem::path pathBytes(const QString& text);

// Creates folder and its missing parents, unless it lies in the data folder this copy
// holds and that has been moved or replaced while it ran: false then, as when it cannot be
// made or none is named (empty); the reason goes to error (may be null).
bool makeFolderToWrite(const QString& folder, std::string* error = nullptr);

}  // namespace ostrel::app
