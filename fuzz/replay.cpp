// Runs a fuzz target over saved inputs: replay PATH..., each a file or a directory whose
// files (not hidden ones, not below subdirectories) run in name order. Any fault of the
// target aborts, as it does under the fuzzer; the name of the input is printed first.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

// The files to run for one argument, in name order; false when it cannot be read.
static bool Inputs(const std::string &path, std::vector<std::string> *files)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec)) {
        files->push_back(path);
        return true;
    }
    std::vector<std::string> found;
    for (const auto &entry : std::filesystem::directory_iterator(path, ec)) {
        std::string name = entry.path().filename().string();
        if (name[0] != '.' && entry.is_regular_file(ec))
            found.push_back(entry.path().string());
    }
    if (ec) {
        fprintf(stderr, "%s: %s\n", path.c_str(), ec.message().c_str());
        return false;
    }
    std::sort(found.begin(), found.end());
    files->insert(files->end(), found.begin(), found.end());
    return true;
}

static bool Run(const std::string &name)
{
    FILE *f = fopen(name.c_str(), "rb");
    if (f == nullptr) {
        perror(name.c_str());
        return false;
    }
    std::vector<uint8_t> bytes;
    char chunk[65536];
    for (size_t n; (n = fread(chunk, 1, sizeof(chunk), f)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool ok = !ferror(f);
    fclose(f);
    if (!ok) {
        perror(name.c_str());
        return false;
    }
    // Printed before the run, so a crash names its input.
    printf("%s\n", name.c_str());
    fflush(stdout);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return true;
}

int main(int argc, char **argv)
{
    std::vector<std::string> files;

    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE|DIR...\n", argv[0]);
        return 2;
    }
    for (int k = 1; k < argc; k++)
        if (!Inputs(argv[k], &files))
            return 1;
    for (const std::string &name : files)
        if (!Run(name))
            return 1;
    printf("%zu inputs, all ok\n", files.size());
    return 0;
}
