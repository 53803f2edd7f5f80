// A second process for the registry tests: reads and writes values the way
// the programs do, and hammers the store alongside other copies of itself.
//
//   registry_client [--elevated] set-string <key> <name> <text>
//   registry_client [--elevated] set-dword <key> <name> <number>
//   registry_client get-string <key> <name>
//   registry_client get-dword <key> <name>
//   registry_client hammer <writer> <rounds> <writers>
//
// Prints the value read, "ok", or "error <code>" (exit code 1).

#include "platform/registry.h"
#include "platform/security.h"
#include "platform/text.h"
#include "tests/helpers/registry_pattern.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace platform;

namespace {

int fail(const std::string& what, Error error)
{
    std::printf("%s: error %u\n", what.c_str(), toCode(error));
    return 1;
}

Result<registry::Key> open(const std::string& fullName, bool forWriting)
{
    TRY_RESULT(parsed, registry::parseKeyName(text::toUtf16(fullName)));
    if (!forWriting)
        return registry::openKey(parsed.first, parsed.second, registry::Access::Read);
    TRY_RESULT(created, registry::createKey(parsed.first, parsed.second));
    return created.key;
}

// One writer among several: each round sets its own value, a value that
// every writer sets, and a value of the round alone, then reads back what it
// and a neighbour wrote. Any error or any value that is not whole fails.
int hammer(uint32_t writer, uint32_t rounds, uint32_t writers)
{
    auto key = open("HKCU\\Software\\Hammer", true);
    if (!key)
        return fail("create key", key.error());
    std::u16string own = u"Own" + text::toUtf16(std::to_string(writer));
    std::u16string peer = u"Own" + text::toUtf16(std::to_string((writer + 1) % writers));
    std::optional<uint32_t> lastPeerRound;
    for (uint32_t round = 0; round < rounds; ++round) {
        std::string where = "round " + std::to_string(round);
        registrytest::Stamp stamp { writer, round };
        auto pattern = registrytest::makePattern(stamp);
        std::u16string single = own + u"R" + text::toUtf16(std::to_string(round));
        for (const auto& name : { own, std::u16string(u"Shared"), single }) {
            if (auto set = registry::setValue(*key, name, registry::ValueType::Binary, pattern); !set)
                return fail(where + " set " + text::toUtf8(name), set.error());
        }

        auto mine = registry::getValue(*key, own);
        if (!mine)
            return fail(where + " get own", mine.error());
        if (registrytest::readPattern(mine->data) != stamp)
            return fail(where + " own value is not the one just written", Error::InvalidData);

        // The shared value through a caller's buffer, as the programs read:
        // ask the size, then read; a value that grew in between says 234.
        std::vector<std::byte> buffer;
        for (int attempt = 0;; ++attempt) {
            uint32_t size = static_cast<uint32_t>(buffer.size());
            auto status
                = registry::queryValue(*key, u"Shared", nullptr, buffer.empty() ? nullptr : buffer.data(), &size);
            if (status && !buffer.empty()) {
                buffer.resize(size);
                break;
            }
            if (!status && status.error() != Error::MoreData)
                return fail(where + " query shared", status.error());
            if (attempt > 1000)
                return fail(where + " shared value never settled", Error::MoreData);
            buffer.assign(std::max<uint32_t>(size, 1), std::byte { 0 });
        }
        if (!registrytest::readPattern(buffer))
            return fail(where + " shared value is torn", Error::InvalidData);

        auto theirs = registry::getValue(*key, peer);
        if (!theirs && theirs.error() != Error::FileNotFound)
            return fail(where + " get peer", theirs.error());
        if (theirs) {
            auto seen = registrytest::readPattern(theirs->data);
            if (!seen || seen->writer != (writer + 1) % writers)
                return fail(where + " peer value is torn", Error::InvalidData);
            if (lastPeerRound && seen->round < *lastPeerRound)
                return fail(where + " peer value went back in time", Error::InvalidData);
            lastPeerRound = seen->round;
        }
    }
    std::printf("ok\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "--elevated") {
        security::runElevated();
        args.erase(args.begin());
    }
    if (args.size() == 4 && args[0] == "set-string") {
        auto key = open(args[1], true);
        if (!key)
            return fail("open", key.error());
        auto set = registry::setString(*key, text::toUtf16(args[2]), text::toUtf16(args[3]));
        return set ? (std::printf("ok\n"), 0) : fail("set", set.error());
    }
    if (args.size() == 4 && args[0] == "set-dword") {
        auto key = open(args[1], true);
        if (!key)
            return fail("open", key.error());
        auto set = registry::setDword(*key, text::toUtf16(args[2]), std::strtoul(args[3].c_str(), nullptr, 0));
        return set ? (std::printf("ok\n"), 0) : fail("set", set.error());
    }
    if (args.size() == 3 && args[0] == "get-string") {
        auto key = open(args[1], false);
        if (!key)
            return fail("open", key.error());
        auto value = registry::getString(*key, text::toUtf16(args[2]));
        return value ? (std::printf("%s\n", text::toUtf8(*value).c_str()), 0) : fail("get", value.error());
    }
    if (args.size() == 3 && args[0] == "get-dword") {
        auto key = open(args[1], false);
        if (!key)
            return fail("open", key.error());
        auto value = registry::getDword(*key, text::toUtf16(args[2]));
        return value ? (std::printf("%u\n", *value), 0) : fail("get", value.error());
    }
    if (args.size() == 4 && args[0] == "hammer") {
        auto number
            = [](const std::string& text) { return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10)); };
        return hammer(number(args[1]), number(args[2]), number(args[3]));
    }
    std::fprintf(stderr, "usage: registry_client [--elevated] set-string|set-dword|get-string|get-dword|hammer ...\n");
    return 2;
}
