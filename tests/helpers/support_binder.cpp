// Loads TavioSupport.DLL from the application folder the way the quick menu
// and the applet do (by path, through the platform's loader) and binds every
// export by name, then does one thing with it:
//   support_binder bind            only load and bind
//   support_binder reload          load, free and load again (two loads)
//   support_binder strings         every id 1-90: "<id> <count> <UTF-8 as hex>"
//   support_binder version         "<result> <text>" of TavioUtilGetAppVersion
//   support_binder admin           the result of IsAdministrator
//   support_binder defaults        InitTavioMenuData, then "<init> <read> <entries> <label 1>"
//   support_binder execute TEXT    the result of TavioUtilShellExecute
// Prints "bound <count>" first. Exits 0 when every export was bound and the
// command ran, 1 when an export or the library is missing (naming it), 2 for
// bad arguments.

#include "platform/modules.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/tavio_support.h"

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace {

struct Bound {
#define TAVIO_BINDER_FIELD(name) name##Proc name { nullptr };
    TAVIO_SUPPORT_EXPORTS(TAVIO_BINDER_FIELD)
#undef TAVIO_BINDER_FIELD
};

std::u16string libraryPath()
{
    using namespace platform::registry;
    auto key = openKey(Root::LocalMachine, u"Software\\KELTO\\Tavio Menu", Access::Read);
    if (!key)
        return {};
    auto folder = getString(*key, u"ApplicationPath");
    return folder ? platform::paths::append(*folder, u"TavioSupport.DLL") : std::u16string();
}

// Loads the library and binds every export; prints what is missing.
bool loadAndBind(platform::modules::Module& module, Bound& bound)
{
    auto loaded = platform::modules::Module::load(libraryPath());
    if (!loaded) {
        std::printf("error %u loading the library\n", loaded.code());
        return false;
    }
    module = std::move(*loaded);
    int count = 0;
    bool complete = true;
#define TAVIO_BINDER_BIND(name)                                                                                        \
    if (auto symbol = module.symbol<name##Proc>(#name)) {                                                              \
        bound.name = *symbol;                                                                                          \
        ++count;                                                                                                       \
    } else {                                                                                                           \
        std::printf("missing %s\n", #name);                                                                            \
        complete = false;                                                                                              \
    }
    TAVIO_SUPPORT_EXPORTS(TAVIO_BINDER_BIND)
#undef TAVIO_BINDER_BIND
    std::printf("bound %d\n", count);
    return complete;
}

std::string hexOf(std::string_view bytes)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : bytes) {
        hex += Digits[byte >> 4];
        hex += Digits[byte & 0xF];
    }
    return hex;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: support_binder bind|reload|strings|version|admin|defaults|execute TEXT\n");
        return 2;
    }
    const std::string_view command = argv[1];
    platform::modules::Module module;
    Bound bound;
    if (!loadAndBind(module, bound))
        return 1;

    if (command == "bind") {
    } else if (command == "reload") {
        module.reset();
        if (!loadAndBind(module, bound))
            return 1;
    } else if (command == "strings") {
        for (uint32_t id = 1; id <= 90; ++id) {
            char16_t buffer[260];
            uint32_t count = bound.TavioUtilGetString(id, buffer);
            std::printf("%u %u %s\n", id, count, hexOf(platform::text::toUtf8(buffer)).c_str());
        }
    } else if (command == "version") {
        char16_t buffer[130];
        uint32_t result = bound.TavioUtilGetAppVersion(buffer);
        std::printf("%u %s\n", result, platform::text::toUtf8(buffer).c_str());
    } else if (command == "admin") {
        std::printf("%u\n", bound.IsAdministrator());
    } else if (command == "defaults") {
        int32_t init = bound.InitTavioMenuData();
        auto data = std::make_unique<TavioMenuData>();
        uint32_t read = bound.ReadTavioMenuData(data.get());
        std::printf("%d %u %u %s\n", init, read, data->NumEntries,
            platform::text::toUtf8(data->TabInfo[0].DisplayName).c_str());
    } else if (command == "execute" && argc == 3) {
        std::u16string text = platform::text::toUtf16(argv[2]);
        std::printf("%d\n", bound.TavioUtilShellExecute(text.c_str()));
    } else {
        std::fprintf(stderr, "support_binder: unknown command\n");
        return 2;
    }
    return 0;
}
