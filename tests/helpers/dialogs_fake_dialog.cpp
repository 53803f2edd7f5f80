// Stands in for the dialog program in tests: writes its arguments, one per
// line, to the file named by DIALOGS_FAKE_RECORD, then answers with the text
// of DIALOGS_FAKE_ANSWER on its standard output. With DIALOGS_FAKE_FAIL set
// it fails as a program that cannot reach the display does.

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (const char* record = std::getenv("DIALOGS_FAKE_RECORD")) {
        if (FILE* file = std::fopen(record, "w")) {
            for (int i = 1; i < argc; ++i)
                std::fprintf(file, "%s\n", argv[i]);
            std::fclose(file);
        }
    }
    if (std::getenv("DIALOGS_FAKE_FAIL"))
        return 1;
    const char* answer = std::getenv("DIALOGS_FAKE_ANSWER");
    std::printf("%s\n", answer ? answer : "1");
    return 0;
}
