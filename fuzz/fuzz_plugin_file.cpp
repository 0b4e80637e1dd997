// The look at a plug-in file's program headers that comes before the
// dynamic loader, on arbitrary file bytes. Only the check runs: loading a
// fuzzed shared object would run whatever code it carries.
#include "fuzz_support.h"
#include "udil_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = fuzz::scratch_file("libudil-fuzz.so");
    if (!fuzz::write_file(path, data, size)) return 0;
    const char *problem = udil::truncated_object_problem(path.c_str());
    if (problem != nullptr && problem[0] == '\0') abort();  // a problem always has a text
    return 0;
}
