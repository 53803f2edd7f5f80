// Shows message boxes one after another and prints each answer's value on a
// line of its own:
//   dialogs_taker COUNT STYLE
// Tests run two of these at once to see that queued answers are shared out.

#include "platform/dialogs.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: dialogs_taker COUNT STYLE\n");
        return 2;
    }
    int count = std::atoi(argv[1]);
    auto style = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 0));
    for (int i = 0; i < count; ++i) {
        auto answer = platform::dialogs::messageBox(0, u"Go on?", u"Tavio Menu", style);
        if (!answer) {
            std::printf("error %u\n", answer.code());
            return 1;
        }
        std::printf("%d\n", static_cast<int>(*answer));
    }
    return 0;
}
