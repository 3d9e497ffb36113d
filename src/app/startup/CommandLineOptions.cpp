#include "app/startup/CommandLineOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <limits>

namespace ostrel::app {
namespace {

// Options the Qt application object takes out of the command line before the program
// parses it, with whether each takes a value; the X11 ones only on that platform, but
// passing over them elsewhere costs nothing.
struct QtOption {
    const char* name;
    bool takesValue;
};
constexpr std::array kQtOptions = {
    QtOption{"platform", true},     QtOption{"platformpluginpath", true}, QtOption{"platformtheme", true},
    QtOption{"plugin", true},       QtOption{"qwindowgeometry", true},    QtOption{"qwindowicon", true},
    QtOption{"qwindowtitle", true}, QtOption{"session", true},            QtOption{"qmljsdebugger", true},
    QtOption{"reverse", false},     QtOption{"testability", false},       QtOption{"display", true},
    QtOption{"geometry", true},     QtOption{"title", true},              QtOption{"icon", true},
    QtOption{"name", true},         QtOption{"visual", true},             QtOption{"cmap", false},
    QtOption{"sync", false},
};

// The Qt option an argument names ("-platform" or "--platform"; "-qmljsdebugger=<value>"
// carries its value), if any.
const QtOption* qtOptionOf(const QString& argument) {
    if (!argument.startsWith(u'-')) {
        return nullptr;
    }
    const QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1).section(u'=', 0, 0);
    for (const QtOption& option : kQtOptions) {
        if (name == QLatin1String(option.name)) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

const QList<CommandLineOptionSpec>& commandLineOptions() {
    static const QList<CommandLineOptionSpec> options = {
        {"screenshot", "file", QT_TRANSLATE_NOOP("CommandLine", "Save a screenshot of the window to <file> and quit.")},
        {"quit-after-ms", "ms", QT_TRANSLATE_NOOP("CommandLine", "Quit automatically after <ms> milliseconds.")},
        {"theme", "id",
         QT_TRANSLATE_NOOP("CommandLine",
                           "Start with theme <id> (graphite, dark, steel, light, high-contrast) without saving it.")},
        {"data-dir", "folder", QT_TRANSLATE_NOOP("CommandLine", "Keep settings and logs in <folder> (tests, portable use).")},
        {"settings-page", "page",
         QT_TRANSLATE_NOOP("CommandLine", "Open the Settings sheet on <page> (appearance, audio, midi, instrument, "
                                          "api, logging, about).")},
        {"demo-menu", "n",
         QT_TRANSLATE_NOOP("CommandLine", "Open the menu number <n> (0 = File, 1 = Edit, 2 = View, 3 = Options, 4 = "
                                          "Help) at start (for documentation pictures).")},
        {"demo-error", "",
         QT_TRANSLATE_NOOP("CommandLine", "Write a demo error to the log at startup (for documentation pictures).")},
        {"demo-crash", "",
         QT_TRANSLATE_NOOP("CommandLine", "Crash on purpose after the first frame, to test the crash reporter.")},
        {"demo-tone", "",
         QT_TRANSLATE_NOOP("CommandLine",
                           "Play the quiet test tone right after the first frame (for testing the sound path).")},
        {"demo-tone-silent", "",
         QT_TRANSLATE_NOOP("CommandLine", "Open the real sound card and play SILENCE for a moment (automated "
                                          "audio-path check; nothing is heard).")},
        {"demo-instrument", "",
         QT_TRANSLATE_NOOP("CommandLine", "Play a short note on the modular synth right after the first frame "
                                          "(audible; for testing the instrument path).")},
        {"demo-instrument-silent", "",
         QT_TRANSLATE_NOOP("CommandLine", "Open the real sound card and play the modular synth at ZERO volume for a "
                                          "moment (automated check; nothing is heard).")},
        {"demo-transport", "",
         QT_TRANSLATE_NOOP("CommandLine",
                           "Start the transport with the metronome on for about a second (audible; for testing the "
                           "clock).")},
        {"demo-transport-silent", "",
         QT_TRANSLATE_NOOP("CommandLine", "Start the transport with the metronome OFF for about a second on the real "
                                          "sound card (automated check; nothing is heard).")},
        {"demo-project", "",
         QT_TRANSLATE_NOOP("CommandLine", "Fill the project with a few example tracks (for documentation pictures).")},
        {"demo-drums", "", QT_TRANSLATE_NOOP("CommandLine", "Pick the drum kit so the pads show (for documentation pictures).")},
        {"demo-loop", "",
         QT_TRANSLATE_NOOP("CommandLine",
                           "Switch the loop on (bars 2 to 4) and put the playhead at bar 2 (for documentation pictures).")},
        {"demo-devices", "",
         QT_TRANSLATE_NOOP("CommandLine", "With --demo-project, select the third track and show its effects in the "
                                          "instrument screen's FX view (for documentation pictures).")},
        {"demo-step", "",
         QT_TRANSLATE_NOOP("CommandLine", "With --demo-project, select the Drums track and its clip and show the "
                                          "instrument screen's step grid (for documentation pictures).")},
        {"demo-audio", "",
         QT_TRANSLATE_NOOP("CommandLine", "With --demo-project, add an audio track with a generated sound file and "
                                          "show the SAMPLES list (for documentation pictures).")},
        {"demo-sampler", "",
         QT_TRANSLATE_NOOP("CommandLine", "With --demo-project, add a Drum Rack track and a Sampler track with "
                                          "generated sounds and show the Drum Rack card (for documentation pictures).")},
        {"demo-fm", "",
         QT_TRANSLATE_NOOP("CommandLine", "With --demo-project, add an FM E-Piano track with a pattern and show its "
                                          "operator card (for documentation pictures).")},
    };
    return options;
}

void addCommandLineOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QStringLiteral("Ostrel"));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const CommandLineOptionSpec& spec : commandLineOptions()) {
        parser.addOption(QCommandLineOption(QString::fromLatin1(spec.name),
                                            QCoreApplication::translate("CommandLine", spec.description),
                                            QString::fromLatin1(spec.valueName)));
    }
}

bool isDemonstration(const QCommandLineParser& parser) {
    for (const CommandLineOptionSpec& option : commandLineOptions()) {
        const QString name = QString::fromLatin1(option.name);
        if (name.startsWith(QStringLiteral("demo-")) && parser.isSet(name)) {
            return true;
        }
    }
    return false;
}

bool answersWithoutStarting(const QStringList& arguments) {
    QStringList ours;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QtOption* qt = i > 0 ? qtOptionOf(arguments[i]) : nullptr;
        if (qt == nullptr) {
            ours.append(arguments[i]);
        } else if (qt->takesValue && !arguments[i].contains(u'=')) {
            ++i;
        }
    }
    QCommandLineParser parser;
    addCommandLineOptions(parser);
    return !parser.parse(ours) || parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
           parser.isSet(QStringLiteral("version")) || !commandLineMistake(parser).isEmpty();
}

QString commandLineMistake(const QCommandLineParser& parser) {
    if (const QStringList words = parser.positionalArguments(); !words.isEmpty()) {
        return QStringLiteral("Unexpected argument '%1'.").arg(words.first());
    }
    for (const QString& value : parser.values(QStringLiteral("quit-after-ms"))) {
        if (!quitAfterMilliseconds(value)) {
            return QStringLiteral("Invalid value '%1' for '--quit-after-ms': it takes a whole number of milliseconds "
                                  "from 0 to %2.")
                .arg(value)
                .arg(std::numeric_limits<int>::max());
        }
    }
    return {};
}

std::optional<QString> platformArgument(const QStringList& arguments) {
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("-platform") || arguments[i] == QStringLiteral("--platform")) {
            return arguments[i + 1];
        }
    }
    return std::nullopt;
}

bool choosesPlatform(const QStringList& arguments) { return platformArgument(arguments).has_value(); }

std::optional<int> quitAfterMilliseconds(const QString& value) {
    const bool digitsOnly =
        !value.isEmpty() && std::all_of(value.begin(), value.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    bool fits = false;
    const int ms = value.toInt(&fits, 10);
    return digitsOnly && fits ? std::optional<int>(ms) : std::nullopt;
}

}  // namespace ostrel::app
