// The libFuzzer entry: any bytes, read as a backup file from memory. A broken promise
// is printed and aborts, so that libFuzzer (or the corpus replay) keeps the input.

#include "uReaderInvariants.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<std::string> broken = CheckRead(data, size);
    if (broken.empty())
        return 0;
    for (const std::string& line : broken)
        std::fprintf(stderr, "reader invariant broken: %s\n", line.c_str());
    std::abort();
}
