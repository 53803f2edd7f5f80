#include "platform/shell.h"

#include "platform/journal.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"

#include <array>

namespace platform::shell {

namespace {

constexpr std::u16string_view MachineClasses = u"SOFTWARE\\Classes";
constexpr std::u16string_view UserClasses = u"Software\\Classes";

std::u16string_view stripOuterQuotes(std::u16string_view file)
{
    if (file.size() >= 2 && file.front() == u'"' && file.back() == u'"')
        return file.substr(1, file.size() - 2);
    return file;
}

bool hasFolder(std::u16string_view name)
{
    return name.find_first_of(u"\\/:") != std::u16string_view::npos;
}

bool isAbsolute(std::u16string_view path)
{
    return (path.size() >= 2 && path[1] == u':') || (!path.empty() && (path[0] == u'\\' || path[0] == u'/'));
}

bool isProgramFile(std::u16string_view path)
{
    const auto extension = paths::extension(path);
    return text::equalsIgnoreCase(extension, u".exe") || text::equalsIgnoreCase(extension, u".com");
}

// Narrows any error of a path or a start to the numbers the shell reports.
Error shellError(Error error)
{
    switch (error) {
    case Error::PathNotFound:
    case Error::BadPathname:
        return Error::PathNotFound;
    case Error::InvalidName:
    case Error::FilenameExcedRange:
        return Error::FileNotFound;
    default:
        return error;
    }
}

ExecuteCode executeCode(Error error)
{
    switch (shellError(error)) {
    case Error::FileNotFound:
        return ExecuteCode::FileNotFound;
    case Error::PathNotFound:
        return ExecuteCode::PathNotFound;
    case Error::AccessDenied:
        return ExecuteCode::AccessDenied;
    case Error::NotEnoughMemory:
    case Error::OutOfMemory:
        return ExecuteCode::OutOfMemory;
    case Error::BadExeFormat:
        return ExecuteCode::BadFormat;
    case Error::SharingViolation:
        return ExecuteCode::ShareViolation;
    case NoAssociation:
        return ExecuteCode::NoAssociation;
    default:
        // NOTE: a failure must never read as a start (a number above 32), so
        // every other code becomes the shell's catch-all 0.
        return ExecuteCode::OutOfResources;
    }
}

struct Found {
    std::u16string path;
    bool isFolder { false };
};

// Finds an existing file or folder as the shell does: in `directory` first
// for a relative name, then as written (relative to C:\), then, for a bare
// name, in the system folders, trying ".exe" after a bare name without an
// extension. The error is the one for the name as written.
Result<Found> locate(std::u16string_view file, std::u16string_view directory)
{
    if (file.empty())
        return Error::FileNotFound;
    std::vector<std::u16string> candidates;
    if (!isAbsolute(file) && !directory.empty())
        candidates.push_back(paths::append(directory, file));
    candidates.push_back(isAbsolute(file) ? std::u16string(file) : paths::append(u"C:\\", file));
    if (!hasFolder(file)) {
        candidates.push_back(paths::append(paths::systemDirectory(), file));
        candidates.push_back(paths::append(paths::windowsDirectory(), file));
        if (paths::extension(file).empty()) {
            for (size_t i = 0, count = candidates.size(); i < count; ++i)
                candidates.push_back(candidates[i] + u".exe");
        }
    }
    const size_t asWritten = !isAbsolute(file) && !directory.empty() ? 1 : 0;
    Error error = Error::FileNotFound;
    for (size_t i = 0; i < candidates.size(); ++i) {
        auto attributes = files::attributes(candidates[i]);
        if (attributes)
            return Found { candidates[i], (*attributes & uint32_t(files::Attribute::Directory)) != 0 };
        if (i == asWritten)
            error = attributes.error();
    }
    return shellError(error);
}

struct TextValue {
    std::u16string text;
    registry::ValueType type { registry::ValueType::String };
};

// A value under Classes, the current user's before the machine's.
std::optional<TextValue> classValue(std::u16string_view subkey, std::u16string_view name)
{
    const std::array<std::pair<registry::Root, std::u16string_view>, 2> roots { {
        { registry::Root::CurrentUser, UserClasses },
        { registry::Root::LocalMachine, MachineClasses },
    } };
    for (const auto& [root, classes] : roots) {
        auto key = registry::openKey(root, paths::append(classes, subkey), registry::Access::Read);
        if (!key)
            continue;
        auto value = registry::getValue(*key, name);
        if (!value)
            continue;
        if (value->type != registry::ValueType::String && value->type != registry::ValueType::ExpandString)
            continue;
        auto textValue = registry::getString(*key, name);
        if (textValue)
            return TextValue { *textValue, value->type };
    }
    return std::nullopt;
}

// Replaces the environment names the association commands use.
std::u16string expandEnvironment(std::u16string_view command)
{
    const std::array<std::pair<std::u16string_view, std::u16string>, 3> names { {
        { u"%SystemRoot%", paths::windowsDirectory() },
        { u"%windir%", paths::windowsDirectory() },
        { u"%ProgramFiles%", u"C:\\Program Files" },
    } };
    std::u16string expanded(command);
    for (const auto& [name, value] : names) {
        for (;;) {
            const auto folded = text::foldCase(expanded);
            const auto at = folded.find(text::foldCase(name));
            if (at == std::u16string::npos)
                break;
            expanded.replace(at, name.size(), value);
        }
    }
    return expanded;
}

// The command that opens things of `className` with `verb`; nothing when
// there is none.
std::optional<std::u16string> verbCommand(std::u16string_view className, std::u16string_view verb)
{
    auto command = classValue(std::u16string(className) + u"\\shell\\" + std::u16string(verb) + u"\\command", u"");
    if (!command || command->text.empty())
        return std::nullopt;
    if (command->type == registry::ValueType::ExpandString)
        return expandEnvironment(command->text);
    return command->text;
}

// The open command of a file's kind: through the class its extension names,
// or on the extension's own key.
std::optional<std::u16string> associationCommand(const Found& found, std::u16string_view verb)
{
    if (found.isFolder)
        return verbCommand(u"Folder", verb);
    const auto extension = paths::extension(found.path);
    if (extension.empty())
        return std::nullopt;
    if (auto className = classValue(extension, u""); className && !className->text.empty()) {
        if (auto command = verbCommand(className->text, verb))
            return command;
    }
    return verbCommand(extension, verb);
}

// A web address whose scheme is registered ("http://..."): its open command.
std::optional<std::u16string> protocolCommand(std::u16string_view address, std::u16string_view verb)
{
    const size_t colon = address.find(u':');
    // One letter before the colon is a drive, not a scheme.
    if (colon == std::u16string_view::npos || colon < 2)
        return std::nullopt;
    const auto scheme = address.substr(0, colon);
    for (char16_t unit : scheme) {
        const bool letter = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z');
        const bool other = (unit >= u'0' && unit <= u'9') || unit == u'+' || unit == u'-' || unit == u'.';
        if (!letter && !other)
            return std::nullopt;
    }
    if (!classValue(scheme, u"URL Protocol"))
        return std::nullopt;
    return verbCommand(scheme, verb);
}

// Fills an association's command: %1 and %L become the file, %* the
// parameters, %% a percent sign; a command without %1 gets the file
// appended, one without %* the parameters.
std::u16string fillCommand(std::u16string_view command, std::u16string_view file, std::u16string_view parameters)
{
    std::u16string filled;
    bool usedFile = false;
    bool usedParameters = false;
    for (size_t i = 0; i < command.size(); ++i) {
        const char16_t unit = command[i];
        if (unit != u'%' || i + 1 >= command.size()) {
            filled += unit;
            continue;
        }
        const char16_t next = command[++i];
        if (next == u'1' || next == u'l' || next == u'L') {
            usedFile = true;
            const bool inQuotes = i >= 2 && command[i - 2] == u'"';
            if (inQuotes) {
                // A trailing backslash would escape the closing quote.
                std::u16string path(file);
                if (!path.empty() && path.back() == u'\\')
                    path += u'\\';
                filled += path;
            } else {
                filled += process::quoteArgument(file);
            }
        } else if (next == u'*') {
            usedParameters = true;
            filled += parameters;
        } else if (next == u'%') {
            filled += u'%';
        } else if (next < u'2' || next > u'9') {
            filled += u'%';
            filled += next;
        }
    }
    if (!usedFile)
        filled += u' ' + process::quoteArgument(file);
    if (!usedParameters && !parameters.empty())
        filled += u' ' + std::u16string(parameters);
    return filled;
}

// Splits a filled command into its program and the text after it.
std::pair<std::u16string, std::u16string> programAndArguments(std::u16string_view command)
{
    size_t at = command.find_first_not_of(u" \t");
    if (at == std::u16string_view::npos)
        return {};
    std::u16string program;
    size_t rest;
    if (command[at] == u'"') {
        size_t close = command.find(u'"', at + 1);
        if (close == std::u16string_view::npos)
            close = command.size();
        program = command.substr(at + 1, close - at - 1);
        rest = std::min(close + 1, command.size());
    } else {
        rest = command.find_first_of(u" \t", at);
        if (rest == std::u16string_view::npos)
            rest = command.size();
        program = command.substr(at, rest - at);
    }
    rest = std::min(command.find_first_not_of(u" \t", rest), command.size());
    return { program, std::u16string(command.substr(rest)) };
}

void startProgram(
    Launch& launch, std::u16string_view program, std::u16string_view arguments, const ExecuteRequest& request)
{
    auto found = process::findProgram(program);
    if (!found) {
        launch.code = executeCode(found.error());
        return;
    }
    auto started = process::start(*found, arguments, { request.directory, request.show });
    if (!started) {
        launch.code = executeCode(started.error());
        return;
    }
    launch.code = ExecuteCode::Started;
    launch.program = *found;
    launch.arguments = arguments;
    launch.process = std::move(*started);
}

Launch open(const ExecuteRequest& request, std::u16string_view file)
{
    Launch launch;
    const std::u16string_view verb = request.verb.empty() ? std::u16string_view(u"open") : request.verb;
    if (auto command = protocolCommand(file, verb)) {
        auto [program, arguments] = programAndArguments(fillCommand(*command, file, request.parameters));
        startProgram(launch, program, arguments, request);
        return launch;
    }
    auto found = locate(file, request.directory);
    if (!found) {
        launch.code = executeCode(found.error());
        return launch;
    }
    if (!found->isFolder && isProgramFile(found->path)) {
        if (!text::equalsIgnoreCase(verb, u"open")) {
            launch.code = ExecuteCode::NoAssociation;
            return launch;
        }
        startProgram(launch, found->path, request.parameters, request);
        return launch;
    }
    auto command = associationCommand(*found, verb);
    if (!command) {
        launch.code = ExecuteCode::NoAssociation;
        return launch;
    }
    auto [program, arguments] = programAndArguments(fillCommand(*command, found->path, request.parameters));
    startProgram(launch, program, arguments, request);
    return launch;
}

} // namespace

Result<files::FindData> findFile(std::u16string_view pattern)
{
    TRY_RESULT(matches, files::find(pattern));
    if (matches.empty())
        return Error::FileNotFound;
    return matches.front();
}

Result<std::u16string> findExecutable(std::u16string_view file, std::u16string_view directory)
{
    TRY_RESULT(found, locate(file, directory));
    if (!found.isFolder && isProgramFile(found.path))
        return found.path;
    auto command = associationCommand(found, u"open");
    if (!command)
        return NoAssociation;
    auto [program, arguments] = programAndArguments(fillCommand(*command, found.path, {}));
    auto located = process::findProgram(program);
    if (!located)
        return shellError(located.error());
    return *located;
}

Launch execute(const ExecuteRequest& request)
{
    Launch launch = open(request, stripOuterQuotes(request.file));
    journal::record("shell.execute",
        { { "verb", text::toUtf8(request.verb) }, { "file", text::toUtf8(request.file) },
            { "parameters", text::toUtf8(request.parameters) }, { "directory", text::toUtf8(request.directory) },
            { "program", text::toUtf8(launch.program) }, { "arguments", text::toUtf8(launch.arguments) },
            { "result", std::to_string(launch.number()) } });
    return launch;
}

} // namespace platform::shell
