#pragma once

#include <QList>
#include <QString>

#include <optional>

class QCommandLineParser;

namespace ostrel::app {

// One option of the command line: a long name, the name of its value ("" for a switch)
// and its help text, untranslated.
struct CommandLineOptionSpec {
    const char* name;
    const char* valueName;
    const char* description;
};

// The 22 options in registration order, which is also the order of the help text.
const QList<CommandLineOptionSpec>& commandLineOptions();

// The description "Ostrel", the standard help and version options, then the 22 options.
void addCommandLineOptions(QCommandLineParser& parser);

// Whether the parsed command line asks for any demonstration switch ("demo-..."): such a
// run shows things off and must leave the user's settings file as it found it.
bool isDemonstration(const QCommandLineParser& parser);

// Whether the command line is answered without starting: it asks for help (--help,
// --help-all) or the version, or it is wrong (an unknown option, a value missing, a word
// that is no option's, a value the option does not take). Decided
// before the application object exists, from the arguments as given (the program's name
// first), so that an answer touches no data folder and needs no display. Qt's own options
// (-platform and the like), which the application object takes out, are passed over.
bool answersWithoutStarting(const QStringList& arguments);

// What is wrong with a command line Qt's parser took, as the line that says so, or empty:
// a word that is no option's, or a --quit-after-ms that is no whole number of milliseconds.
QString commandLineMistake(const QCommandLineParser& parser);

// The Qt platform the arguments choose (-platform or --platform with a value), if any.
std::optional<QString> platformArgument(const QStringList& arguments);
bool choosesPlatform(const QStringList& arguments);

// The value of --quit-after-ms: decimal digits only, from 0 to the largest int; anything
// else (a sign, an exponent, an empty value) is none.
std::optional<int> quitAfterMilliseconds(const QString& value);

}  // namespace ostrel::app
