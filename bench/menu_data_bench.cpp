// Reading the menu data file: ReadTavioMenuData (find the data folder, open
// the file exclusively, read header, entries and checksum, validate the byte
// sum) against a plain open and read of the same 42096 bytes, both on a full
// menu of 40 entries.

#include "bench/bench_machine.h"

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "support/menu_data.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

namespace {

using namespace platform;

constexpr std::u16string_view ApplicationFolder = u"C:\\Program Files\\Tavio Menu";
constexpr std::u16string_view DataFile = u"C:\\Program Files\\Tavio Menu\\MenuData.txt";
constexpr size_t FullFileSize = 42096;

bool installSettings()
{
    auto created = registry::createKey(registry::Root::LocalMachine, u"Software\\KELTO\\Tavio Menu");
    if (!created)
        return false;
    if (!registry::setString(created->key, u"ApplicationPath", ApplicationFolder))
        return false;
    if (!registry::setDword(created->key, u"Parameters", 0))
        return false;
    auto made = files::createDirectory(ApplicationFolder);
    return made || made.error() == Error::AlreadyExists;
}

bool writeFullMenu()
{
    auto data = std::make_unique<TavioMenuData>();
    *data = {};
    data->NumEntries = MaxMenuEntries;
    data->DataSize = MaxMenuEntries * sizeof(TabInfo);
    data->LastTabIDUsed = 300 + MaxMenuEntries;
    for (uint32_t i = 0; i < MaxMenuEntries; ++i) {
        TabInfo& entry = data->TabInfo[i];
        entry.Flags = FLAG_SHOWN | FLAG_USER_ENTRY;
        entry.TabID = 300 + i;
        entry.HelpStringID = 0;
        text::copyTo(entry.DisplayName, text::toUtf16("Entry " + std::to_string(i + 1)));
        text::copyTo(entry.FileName, u"C:\\WINDOWS\\System32\\notepad.exe");
    }
    return support::WriteTavioMenuData(*data) == 1;
}

void readTavioMenuData(benchmark::State& state)
{
    auto block = std::make_unique<TavioMenuData>();
    for (auto _ : state) {
        uint32_t result = support::ReadTavioMenuData(block.get());
        if (result != support::ReadSucceeded) {
            state.SkipWithError(("ReadTavioMenuData returned " + std::to_string(result)).c_str());
            break;
        }
        benchmark::DoNotOptimize(block->CheckSum);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FullFileSize);
}
BENCHMARK(readTavioMenuData)->Unit(benchmark::kMicrosecond)->UseRealTime();

void plainReadOfTheSameBytes(benchmark::State& state)
{
    auto buffer = std::make_unique<std::array<std::byte, FullFileSize + 1>>();
    for (auto _ : state) {
        auto file = files::open(DataFile, files::Access::Read, files::Share::None, files::Create::OpenExisting);
        if (!file) {
            state.SkipWithError("open failed");
            break;
        }
        auto read = file->read(*buffer);
        if (!read || *read != FullFileSize) {
            state.SkipWithError("the file is not 42096 bytes long");
            break;
        }
        file->close();
        benchmark::DoNotOptimize(buffer->data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * FullFileSize);
}
BENCHMARK(plainReadOfTheSameBytes)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    bench::BenchMachine machine;
    if (!installSettings() || !writeFullMenu()) {
        std::fprintf(stderr, "cannot prepare the menu data file\n");
        return 1;
    }
    auto size = files::open(DataFile, files::Access::Read, files::Share::Read, files::Create::OpenExisting);
    if (!size || size->size().valueOr(0) != FullFileSize) {
        std::fprintf(stderr, "the menu data file is not %zu bytes long\n", FullFileSize);
        return 1;
    }
    size->close();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
