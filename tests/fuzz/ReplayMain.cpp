// A fuzz target as a plain program: every file named on the command line, and every file under a
// named directory, goes through the target once. CI uses it to replay the seed corpora with the
// ordinary compiler; it also reproduces a finding without libFuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

std::vector<std::filesystem::path> CollectInputs(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path = argv[i];
        if (!std::filesystem::is_directory(path)) {
            inputs.push_back(path);
            continue;
        }
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
            if (entry.is_regular_file())
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        inputs.insert(inputs.end(), files.begin(), files.end());
    }
    return inputs;
}

bool ReadBytes(const std::filesystem::path& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    const auto inputs = CollectInputs(argc, argv);
    if (inputs.empty()) {
        // An empty or missing corpus would replay nothing and still pass.
        std::cerr << "usage: " << argv[0] << " FILE_OR_DIRECTORY...: no inputs found\n";
        return 2;
    }
    std::vector<uint8_t> bytes;
    for (const auto& input : inputs) {
        if (!ReadBytes(input, bytes)) {
            std::cerr << "cannot read " << input << "\n";
            return 2;
        }
        // A one-byte buffer stands in for an empty file so that the target never sees a null
        // pointer with a size it could misread; the size stays zero.
        static const uint8_t kEmpty = 0;
        LLVMFuzzerTestOneInput(bytes.empty() ? &kEmpty : bytes.data(), bytes.size());
    }
    std::cout << "replayed " << inputs.size() << " inputs\n";
    return 0;
}
