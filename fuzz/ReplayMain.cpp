// Runs a fuzz target over saved inputs without libFuzzer: every file named on the command line and every file
// below each directory named there. Ordinary builds replay the corpus, crash inputs included, this way.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::size_t count = 0;
    const auto replay = [&](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++count;
    };
    for (int i = 1; i < argc; ++i) {
        if (std::filesystem::is_regular_file(argv[i])) replay(argv[i]);
        if (!std::filesystem::is_directory(argv[i])) continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[i]))
            if (entry.is_regular_file()) replay(entry.path());
    }
    std::printf("replayed %zu inputs\n", count);
    return count > 0 ? 0 : 1;  // an empty corpus means a wrong path
}
