#include "platform/dialogs.h"

#include "platform/config.h"
#include "platform/journal.h"
#include "platform/machine.h"
#include "platform/store_p.h"
#include "platform/text.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace platform::dialogs {

/*
 * Automatic answering, in the machine configuration:
 *
 *   "messagebox.automatic"  "0" to show boxes to the user when there is a
 *                           display; absent or "1" to answer automatically
 *   "messagebox.answers"    the queue of answers, oldest first, as decimal
 *                           answer values joined by commas ("6,7,1")
 *
 * The queue is read and rewritten inside one write transaction of the store,
 * so two processes taking answers at once each get a different one.
 */

namespace fs = std::filesystem;

namespace {

constexpr std::string_view AutomaticSetting = "messagebox.automatic";
constexpr std::string_view AnswersSetting = "messagebox.answers";
constexpr std::string_view DialogProgram = "tavio-dialog";

constexpr uint32_t ButtonsMask = 0xF;
constexpr uint32_t IconMask = 0xF0;
constexpr uint32_t DefaultButtonMask = 0xF00;

struct AnswerName {
    Answer answer;
    std::string_view name;
};

constexpr AnswerName AnswerNames[] = {
    { Answer::Ok, "IDOK" },
    { Answer::Cancel, "IDCANCEL" },
    { Answer::Abort, "IDABORT" },
    { Answer::Retry, "IDRETRY" },
    { Answer::Ignore, "IDIGNORE" },
    { Answer::Yes, "IDYES" },
    { Answer::No, "IDNO" },
    { Answer::TryAgain, "IDTRYAGAIN" },
    { Answer::Continue, "IDCONTINUE" },
};

std::optional<Answer> answerOfValue(int64_t value)
{
    for (const auto& entry : AnswerNames) {
        if (static_cast<int64_t>(entry.answer) == value)
            return entry.answer;
    }
    return std::nullopt;
}

std::vector<Answer> parseQueue(std::string_view text)
{
    std::vector<Answer> answers;
    while (!text.empty()) {
        size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        int value = 0;
        auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value);
        // An item this code did not write is dropped rather than blocking
        // every later answer.
        if (error == std::errc() && end == item.data() + item.size()) {
            if (auto answer = answerOfValue(value))
                answers.push_back(*answer);
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    return answers;
}

std::string formatQueue(const std::vector<Answer>& answers)
{
    std::string text;
    for (Answer answer : answers) {
        if (!text.empty())
            text += ',';
        text += std::to_string(static_cast<int32_t>(answer));
    }
    return text;
}

bool hasDisplay()
{
    for (const char* variable : { "DISPLAY", "WAYLAND_DISPLAY" }) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return true;
    }
    return false;
}

bool isProgram(const fs::path& path)
{
    return !path.empty() && ::access(path.c_str(), X_OK) == 0 && fs::is_regular_file(path);
}

// The dialog program is looked for where the object manager is: named by the
// environment, beside the running program or this library, or beside the
// object manager that the machine tool recorded.
fs::path findDialogProgram()
{
    std::vector<fs::path> candidates;
    if (const char* explicitPath = std::getenv("TAVIO_DIALOG"); explicitPath && *explicitPath)
        candidates.emplace_back(explicitPath);
    if (const char* bin = std::getenv("TAVIO_BIN"); bin && *bin)
        candidates.push_back(fs::path(bin) / DialogProgram);
    std::error_code error;
    fs::path exeFolder = fs::read_symlink("/proc/self/exe", error).parent_path();
    if (!exeFolder.empty()) {
        candidates.push_back(exeFolder / DialogProgram);
        candidates.push_back(exeFolder.parent_path() / "bin" / DialogProgram);
    }
    Dl_info info {};
    if (dladdr(reinterpret_cast<void*>(&findDialogProgram), &info) && info.dli_fname)
        candidates.push_back(fs::path(info.dli_fname).parent_path() / DialogProgram);
    std::ifstream recorded(machine::root() / "objectd.path");
    std::string line;
    if (std::getline(recorded, line) && !line.empty())
        candidates.push_back(fs::path(line).parent_path() / DialogProgram);
    for (const auto& candidate : candidates) {
        if (isProgram(candidate))
            return candidate;
    }
    return {};
}

// Runs the dialog program and waits for the user: it writes the answer's
// value on its standard output. Nothing when it could not show the box.
std::optional<Answer> askThroughDialog(const fs::path& program, std::u16string_view text, std::u16string_view caption,
    uint32_t style, const std::vector<Answer>& offered)
{
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    std::vector<std::string> arguments { program.string(), "--caption", text::toUtf8(caption), "--text",
        text::toUtf8(text), "--flags", std::to_string(style) };
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (rc != 0) {
        ::close(output[0]);
        return std::nullopt;
    }
    // NOTE: no time-out: the box waits for the user, as the platform's does.
    std::string reply;
    char buffer[64];
    for (;;) {
        ssize_t n = ::read(output[0], buffer, sizeof buffer);
        if (n > 0)
            reply.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(output[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.pop_back();
    auto answer = parseAnswer(reply);
    if (!answer || std::find(offered.begin(), offered.end(), *answer) == offered.end())
        return std::nullopt;
    return answer;
}

std::string_view iconName(Icon icon)
{
    switch (icon) {
    case Icon::None:
        return "none";
    case Icon::Hand:
        return "MB_ICONHAND";
    case Icon::Question:
        return "MB_ICONQUESTION";
    case Icon::Exclamation:
        return "MB_ICONEXCLAMATION";
    case Icon::Asterisk:
        return "MB_ICONASTERISK";
    }
    return "unknown";
}

} // namespace

Result<Style> Style::fromFlags(uint32_t flags)
{
    uint32_t buttons = flags & ButtonsMask;
    uint32_t icon = flags & IconMask;
    uint32_t defaultButton = flags & DefaultButtonMask;
    if (buttons > MB_CANCELTRYCONTINUE || icon > MB_ICONASTERISK || defaultButton > MB_DEFBUTTON4)
        return Error::InvalidParameter;
    return Style { static_cast<Buttons>(buttons), static_cast<Icon>(icon), defaultButton >> 8 };
}

std::vector<Answer> buttonAnswers(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
        return { Answer::Ok };
    case Buttons::OkCancel:
        return { Answer::Ok, Answer::Cancel };
    case Buttons::AbortRetryIgnore:
        return { Answer::Abort, Answer::Retry, Answer::Ignore };
    case Buttons::YesNoCancel:
        return { Answer::Yes, Answer::No, Answer::Cancel };
    case Buttons::YesNo:
        return { Answer::Yes, Answer::No };
    case Buttons::RetryCancel:
        return { Answer::Retry, Answer::Cancel };
    case Buttons::CancelTryContinue:
        return { Answer::Cancel, Answer::TryAgain, Answer::Continue };
    }
    return { Answer::Ok };
}

Answer defaultAnswer(const Style& style)
{
    auto answers = buttonAnswers(style.buttons);
    return style.defaultIndex < answers.size() ? answers[style.defaultIndex] : answers.front();
}

std::string answerName(Answer answer)
{
    for (const auto& entry : AnswerNames) {
        if (entry.answer == answer)
            return std::string(entry.name);
    }
    return std::to_string(static_cast<int32_t>(answer));
}

std::optional<Answer> parseAnswer(std::string_view text)
{
    for (const auto& entry : AnswerNames) {
        if (text::equalsIgnoreCase(entry.name, text))
            return entry.answer;
    }
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return answerOfValue(value);
}

std::string_view buttonsName(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
        return "MB_OK";
    case Buttons::OkCancel:
        return "MB_OKCANCEL";
    case Buttons::AbortRetryIgnore:
        return "MB_ABORTRETRYIGNORE";
    case Buttons::YesNoCancel:
        return "MB_YESNOCANCEL";
    case Buttons::YesNo:
        return "MB_YESNO";
    case Buttons::RetryCancel:
        return "MB_RETRYCANCEL";
    case Buttons::CancelTryContinue:
        return "MB_CANCELTRYCONTINUE";
    }
    return "MB_UNKNOWN";
}

Answering answering()
{
    auto value = config::get(AutomaticSetting);
    return value && *value == "0" ? Answering::Interactive : Answering::Automatic;
}

Status setAnswering(Answering mode)
{
    return config::set(AutomaticSetting, mode == Answering::Automatic ? "1" : "0");
}

Status queueAnswer(Answer answer)
{
    return store::transact(store::Mode::Write, [&]() -> Status {
        auto answers = parseQueue(config::get(AnswersSetting).value_or(""));
        answers.push_back(answer);
        return config::set(AnswersSetting, formatQueue(answers));
    });
}

std::vector<Answer> queuedAnswers()
{
    return parseQueue(config::get(AnswersSetting).value_or(""));
}

std::optional<Answer> takeAnswer()
{
    std::optional<Answer> taken;
    auto status = store::transact(store::Mode::Write, [&]() -> Status {
        taken.reset();
        auto answers = parseQueue(config::get(AnswersSetting).value_or(""));
        if (answers.empty())
            return {};
        taken = answers.front();
        answers.erase(answers.begin());
        if (answers.empty()) {
            auto erased = config::erase(AnswersSetting);
            return erased.error() == Error::FileNotFound ? Status() : erased;
        }
        return config::set(AnswersSetting, formatQueue(answers));
    });
    if (!status)
        return std::nullopt;
    return taken;
}

Result<Answer> messageBox(uint64_t owner, std::u16string_view text, std::u16string_view caption, uint32_t style)
{
    TRY_RESULT(parsed, Style::fromFlags(style));
    const auto offered = buttonAnswers(parsed.buttons);
    const Answer fallback = defaultAnswer(parsed);

    journal::Fields fields { { "owner", std::to_string(owner) }, { "text", text::toUtf8(text) },
        { "caption", text::toUtf8(caption) }, { "buttons", std::string(buttonsName(parsed.buttons)) },
        { "icon", std::string(iconName(parsed.icon)) }, { "default", answerName(fallback) } };

    std::optional<Answer> answer;
    std::string how;
    if (answering() == Answering::Interactive && hasDisplay()) {
        if (fs::path program = findDialogProgram(); !program.empty()) {
            answer = askThroughDialog(program, text, caption, style, offered);
            if (answer)
                how = "dialog";
        }
    }
    if (!answer) {
        if (auto queued = takeAnswer()) {
            if (std::find(offered.begin(), offered.end(), *queued) != offered.end()) {
                answer = queued;
                how = "queued";
            } else {
                // A user cannot press a button the box does not have: the
                // queued answer is used up, and the journal says it was not fit.
                fields.emplace_back("unusable", answerName(*queued));
            }
        }
    }
    if (!answer) {
        answer = fallback;
        how = "default";
    }
    fields.emplace_back("answer", answerName(*answer));
    fields.emplace_back("how", how);
    journal::record("messagebox.show", std::move(fields));
    return *answer;
}

} // namespace platform::dialogs
