#pragma once

#include <QString>

#include <string>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class SettingsBridge;

// 32 lower-case hexadecimal characters, each from the low 4 bits of one draw of
// std::random_device.
QString makeApiToken();

// The token in force while api.enabled is on ("" while it is off): made and stored when
// api.token is empty, and held by the settings file, which is saved again when an earlier
// save failed. False, token untouched, when the file cannot be made to hold it: no client
// could read it, so the door must stay closed; the save's reason goes to error.
[[nodiscard]] bool ensureApiToken(SettingsBridge& settings, QString& token, std::string* error);

// Whether the settings file that holds the token is its owner's alone: this user's file,
// with no bits for others. Judged on the file the settings were read from at start (not on
// what is at its path now); private also when no file was read.
enum class TokenFile {
    Private,
    MadePrivate,  // this user's file that others could reach, made 0600 just now
    Exposed,      // another user's file, or one whose mode could not be changed
};

// Makes that file private when it can; the reason for Exposed goes to error.
TokenFile makeTokenFilePrivate(SettingsBridge& settings, std::string* error);

// At start: a settings file that holds a token and that other users may read (a file
// copied in, or made by hand) is made the owner's alone (0600) at once, not at the next
// save, and the log says so. GUI thread.
void keepTokenFilePrivate(SettingsBridge& settings, core::Logger& logger);

}  // namespace ostrel::app
