#include "app/startup/DisplayCheck.h"

#include "app/startup/CommandLineOptions.h"
#include "core/Failure.h"
#include "core/ForkedTrial.h"
#include "core/files/FileDescriptorIo.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

namespace ostrel::app {
namespace {

constexpr int kPlatformFailed = 1;

// The trial copy's state for its message handler, which Qt calls with nothing of ours.
int trialOut = -1;
QString trialReason;

// Qt's message as the end of a sentence: "Could not ..." becomes "could not ...".
QString asReason(const QString& message) {
    QString reason = message.section(u'\n', 0, 0).trimmed();
    if (reason.endsWith(u'.')) {
        reason.chop(1);
    }
    if (!reason.isEmpty()) {
        reason[0] = reason[0].toLower();
    }
    return reason;
}

// Qt says why a platform failed in warnings of its platform categories, before the fatal
// message that would abort; the copy says the first of them and ends instead.
void onTrialMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const bool fromPlatform = context.category != nullptr && std::string_view(context.category).starts_with("qt.qpa");
    if (type != QtFatalMsg) {
        if (fromPlatform && trialReason.isEmpty()) {
            trialReason = asReason(message);
        }
        return;
    }
    const QByteArray said = (trialReason.isEmpty() ? asReason(message) : trialReason).toUtf8();
    core::writeAll(trialOut, said.constData(), static_cast<std::size_t>(said.size()));
    std::_Exit(kPlatformFailed);
}

int tryPlatform(int argc, char** argv, int out) {
    trialOut = out;
    qInstallMessageHandler(onTrialMessage);
    // The trial only has to come up: it joins no desktop session.
    qunsetenv("SESSION_MANAGER");
    // Qt keeps a reference to the count; the copy ends right after, with both still there.
    static int count = argc;
    new QGuiApplication(count, argv);
    return 0;
}

std::string joined(const QStringList& words) {
    if (words.size() < 2) {
        return words.join(QString()).toStdString();
    }
    return (words.mid(0, words.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + words.last())
        .toStdString();
}

}  // namespace

bool platformComesUp(int argc, char** argv, std::string* error) {
    const core::TrialOutcome trial = core::runForkedTrial([&](int out) { return tryPlatform(argc, argv, out); });
    switch (trial.ending) {
    case core::TrialOutcome::Ending::NotRun:
        // Without a copy to try it in, Qt tries it itself, as it always did.
        return true;
    case core::TrialOutcome::Ending::Signalled:
        return core::fail(error, std::string("bringing it up ended the process: ") + ::strsignal(trial.code));
    case core::TrialOutcome::Ending::Exited:
        break;
    }
    if (trial.code == 0) {
        return true;
    }
    return core::fail(error, !trial.said.empty() ? trial.said
                                                 : "bringing it up ended the process with exit code " +
                                                       std::to_string(trial.code));
}

std::string unreachableDisplaySentence(const QStringList& arguments, const std::string& reason) {
    QStringList named;
    QStringList variables;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        if (!qEnvironmentVariableIsEmpty(name)) {
            named.append(QString::fromLatin1(name) + u'=' + qEnvironmentVariable(name));
            variables.append(QString::fromLatin1(name));
        }
    }
    std::string remedies = variables.isEmpty() ? std::string() : "unset " + joined(variables) + ", ";
    if (const std::optional<QString> platform = platformArgument(arguments)) {
        named.append(QStringLiteral("-platform ") + *platform);
        remedies += "leave out -platform, ";
    }
    return "Ostrel cannot show its window where " + joined(named) + (named.size() == 1 ? " leads" : " lead") +
           " (Qt: " + reason + "): start it on a desktop, " + remedies +
           "or run it without a window with QT_QPA_PLATFORM=offscreen, as scripts/run.sh does.";
}

}  // namespace ostrel::app
