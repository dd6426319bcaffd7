// Runs a fuzz target over saved inputs: replay FILE...
#include <cstdint>
#include <cstdio>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    for (int k = 1; k < argc; k++) {
        FILE *f = fopen(argv[k], "rb");
        if (f == nullptr) {
            perror(argv[k]);
            return 1;
        }
        std::vector<uint8_t> bytes;
        for (int c; (c = fgetc(f)) != EOF;)
            bytes.push_back((uint8_t)c);
        fclose(f);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        printf("%s: ok\n", argv[k]);
    }
    return 0;
}
