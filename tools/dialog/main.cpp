// Shows one message box and prints the value of the answer (IDOK 1, IDYES 6,
// ...) on standard output. The platform runs this program for a message box
// when a person is at the display, and waits for it:
//   tavio-dialog --caption TEXT --text TEXT --flags FLAGS
// Exit code 0 with an answer; 2 for a wrong command line.

#include "tools/dialog/message_box.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

int usage(const char* message)
{
    std::fprintf(stderr, "tavio-dialog: %s\nusage: tavio-dialog --caption TEXT --text TEXT --flags FLAGS\n", message);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string caption;
    std::string text;
    std::string flagsText = "0";
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (i + 1 >= argc)
            return usage("an option lacks its value");
        if (option == "--caption")
            caption = argv[++i];
        else if (option == "--text")
            text = argv[++i];
        else if (option == "--flags")
            flagsText = argv[++i];
        else
            return usage("unknown option");
    }
    char* end = nullptr;
    unsigned long flags = std::strtoul(flagsText.c_str(), &end, 0);
    auto style = platform::dialogs::Style::fromFlags(static_cast<uint32_t>(flags));
    if (flagsText.empty() || *end != '\0' || flags > 0xFFFFFFFFul || !style)
        return usage("the flags are no message box style");

    // NOTE: Qt sees only the program's name: a caption or text that starts
    // with a dash must not be taken for one of its own options.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    dialog::MessageBox box(*style, QString::fromUtf8(caption), QString::fromUtf8(text));
    std::printf("%d\n", static_cast<int>(box.exec()));
    return 0;
}
