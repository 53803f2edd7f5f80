// The platform's command-line splitting and quoting (declared in process.h).

#include "platform/process.h"

namespace platform::process {

namespace {

bool isBlank(char16_t unit)
{
    return unit == u' ' || unit == u'\t';
}

} // namespace

std::vector<std::u16string> splitArguments(std::u16string_view text)
{
    std::vector<std::u16string> arguments;
    size_t at = 0;
    const size_t end = text.size();
    for (;;) {
        while (at < end && isBlank(text[at]))
            ++at;
        if (at >= end)
            break;
        std::u16string argument;
        bool quoted = false;
        while (at < end) {
            const char16_t unit = text[at];
            if (isBlank(unit) && !quoted)
                break;
            if (unit == u'\\') {
                size_t backslashes = 0;
                while (at < end && text[at] == u'\\') {
                    ++backslashes;
                    ++at;
                }
                if (at < end && text[at] == u'"') {
                    argument.append(backslashes / 2, u'\\');
                    // An odd count escapes the quote; an even one leaves it
                    // to open or close a quoted part on the next round.
                    if (backslashes % 2 == 1) {
                        argument += u'"';
                        ++at;
                    }
                } else {
                    argument.append(backslashes, u'\\');
                }
                continue;
            }
            if (unit == u'"') {
                if (quoted && at + 1 < end && text[at + 1] == u'"') {
                    argument += u'"';
                    at += 2;
                    continue;
                }
                quoted = !quoted;
                ++at;
                continue;
            }
            argument += unit;
            ++at;
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::vector<std::u16string> splitCommandLine(std::u16string_view commandLine)
{
    size_t at = 0;
    while (at < commandLine.size() && isBlank(commandLine[at]))
        ++at;
    if (at >= commandLine.size())
        return {};
    std::u16string program;
    if (commandLine[at] == u'"') {
        const size_t close = commandLine.find(u'"', at + 1);
        if (close == std::u16string_view::npos) {
            program = commandLine.substr(at + 1);
            at = commandLine.size();
        } else {
            program = commandLine.substr(at + 1, close - at - 1);
            at = close + 1;
        }
    } else {
        size_t stop = at;
        while (stop < commandLine.size() && !isBlank(commandLine[stop]))
            ++stop;
        program = commandLine.substr(at, stop - at);
        at = stop;
    }
    std::vector<std::u16string> all { std::move(program) };
    for (auto& argument : splitArguments(commandLine.substr(at)))
        all.push_back(std::move(argument));
    return all;
}

std::u16string quoteArgument(std::u16string_view argument)
{
    if (!argument.empty() && argument.find_first_of(u" \t\"") == std::u16string_view::npos)
        return std::u16string(argument);
    std::u16string quoted = u"\"";
    size_t backslashes = 0;
    for (char16_t unit : argument) {
        if (unit == u'\\') {
            ++backslashes;
            continue;
        }
        if (unit == u'"') {
            // Backslashes before a quote are doubled and the quote escaped.
            quoted.append(backslashes * 2 + 1, u'\\');
            quoted += u'"';
        } else {
            quoted.append(backslashes, u'\\');
            quoted += unit;
        }
        backslashes = 0;
    }
    // Backslashes before the closing quote must not escape it.
    quoted.append(backslashes * 2, u'\\');
    quoted += u'"';
    return quoted;
}

std::u16string joinArguments(const std::vector<std::u16string>& arguments)
{
    std::u16string joined;
    for (const auto& argument : arguments) {
        if (!joined.empty())
            joined += u' ';
        joined += quoteArgument(argument);
    }
    return joined;
}

} // namespace platform::process
