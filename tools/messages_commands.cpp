#include "tools/machine_commands.h"

#include "platform/dialogs.h"
#include "platform/journal.h"
#include "platform/locale.h"

#include <ctime>

namespace tools {

namespace {

using platform::dialogs::Answering;

std::string clockTime(uint64_t microseconds)
{
    std::time_t seconds = static_cast<std::time_t>(microseconds / 1000000);
    std::tm local {};
    localtime_r(&seconds, &local);
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M:%S", &local);
    return buffer;
}

// One line per box: when, who, the box and how it was answered.
int listMessages(const Console& console)
{
    for (const auto& entry : platform::journal::read("messagebox.show")) {
        console.out << clockTime(entry.timeMicroseconds) << ' ' << entry.program << '[' << entry.pid << "] "
                    << entry.field("buttons") << " \"" << entry.field("caption") << "\": \"" << entry.field("text")
                    << "\" -> " << entry.field("answer") << " (" << entry.field("how") << ")\n";
    }
    return ExitSuccess;
}

int answerCommand(const Console& console, std::span<const std::string> args)
{
    if (args.size() != 1)
        return fail(console, ExitUsage, "messages answer: expected one answer, e.g. IDYES or 6");
    auto answer = platform::dialogs::parseAnswer(args[0]);
    if (!answer)
        return fail(console, ExitUsage,
            "messages answer: '" + args[0]
                + "' is no answer; use IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE, IDYES, IDNO, IDTRYAGAIN, "
                  "IDCONTINUE or their numbers");
    auto status = platform::dialogs::queueAnswer(*answer);
    if (!status)
        return fail(console, ExitFailed, "messages answer: cannot queue the answer: " + explain(status.error()));
    console.out << "Queued " << platform::dialogs::answerName(*answer) << " ("
                << platform::dialogs::queuedAnswers().size() << " waiting)\n";
    return ExitSuccess;
}

int queueCommand(const Console& console, std::span<const std::string> args)
{
    if (!args.empty())
        return fail(console, ExitUsage, "messages queue: takes no arguments");
    for (auto answer : platform::dialogs::queuedAnswers())
        console.out << platform::dialogs::answerName(answer) << '\n';
    return ExitSuccess;
}

int automaticCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty()) {
        console.out << (platform::dialogs::answering() == Answering::Automatic ? "on" : "off") << '\n';
        return ExitSuccess;
    }
    if (args.size() != 1 || (args[0] != "on" && args[0] != "off"))
        return fail(console, ExitUsage, "messages automatic: expected on or off");
    auto status = platform::dialogs::setAnswering(args[0] == "on" ? Answering::Automatic : Answering::Interactive);
    if (!status)
        return fail(console, ExitFailed, "messages automatic: cannot change the setting: " + explain(status.error()));
    return ExitSuccess;
}

} // namespace

int runMessagesCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty())
        return listMessages(console);
    const std::string& verb = args[0];
    auto rest = args.subspan(1);
    if (verb == "answer")
        return answerCommand(console, rest);
    if (verb == "queue")
        return queueCommand(console, rest);
    if (verb == "automatic")
        return automaticCommand(console, rest);
    return fail(console, ExitUsage, "messages: unknown operation '" + verb + "'; expected answer, queue or automatic");
}

int runLanguageCommand(const Console& console, std::span<const std::string> args)
{
    if (args.empty()) {
        console.out << platform::locale::threadUiLanguage() << '\n';
        return ExitSuccess;
    }
    if (args.size() != 1)
        return fail(console, ExitUsage, "language: expected one language, e.g. 1031 or de-DE");
    if (args[0] == "default") {
        auto status = platform::locale::clearUserUiLanguage();
        if (!status && status.error() != platform::Error::FileNotFound)
            return fail(console, ExitFailed, "language: cannot change the setting: " + explain(status.error()));
        return ExitSuccess;
    }
    auto language = platform::locale::parseLanguage(args[0]);
    if (!language)
        return fail(console, ExitUsage,
            "language: '" + args[0] + "' names no language; use a language id (1033, 1031, 0x0407) or a tag (de-DE)");
    auto status = platform::locale::setUserUiLanguage(*language);
    if (!status)
        return fail(console, ExitFailed, "language: cannot change the setting: " + explain(status.error()));
    return ExitSuccess;
}

} // namespace tools
