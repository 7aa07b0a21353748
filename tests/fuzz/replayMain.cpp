// Replays every file of a seed corpus folder through a fuzz target, so that
// the corpus runs as an ordinary test without libFuzzer.
// Usage: fuzz_replay TARGET CORPUS_FOLDER_OR_FILE...
#include "replayTargets.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char **argv)
{
    namespace fs = std::filesystem;
    const replayTarget_t *target = nullptr;
    for (const replayTarget_t *t = replayTargets; argc > 1 && t->name; ++t)
        if (std::strcmp(t->name, argv[1]) == 0)
            target = t;
    if (!target) {
        std::fprintf(stderr, "usage: %s TARGET CORPUS...; targets:", argv[0]);
        for (const replayTarget_t *t = replayTargets; t->name; ++t)
            std::fprintf(stderr, " %s", t->name);
        std::fprintf(stderr, "\n");
        return 2;
    }
    int count = 0;
    for (int i = 2; i < argc; ++i) {
        std::vector<fs::path> files;
        if (fs::is_directory(argv[i])) {
            for (const auto &e : fs::recursive_directory_iterator(argv[i]))
                if (e.is_regular_file())
                    files.push_back(e.path());
        } else {
            files.emplace_back(argv[i]);
        }
        for (const auto &f : files) {
            std::ifstream in(f, std::ios::binary);
            std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            target->testOneInput(bytes.data(), bytes.size());
            ++count;
        }
    }
    std::printf("replayed %d inputs\n", count);
    return count > 0 ? 0 : 1;
}
