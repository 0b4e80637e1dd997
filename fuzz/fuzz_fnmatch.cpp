// Both wildcard matchers on a pattern and a name split at the first NUL;
// the first byte gives the flags.
#include "dyx_fnmatch.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    const int flags = data[0] & 63;
    const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    const size_t split = rest.find('\0');
    const std::string pattern = rest.substr(0, split);
    const std::string name = split == std::string::npos
                                 ? std::string()
                                 : fuzz::as_text(reinterpret_cast<const uint8_t *>(rest.data()) + split + 1,
                                                 rest.size() - split - 1);
    const int a = dyx_fnmatch(pattern.c_str(), name.c_str(), flags);
    const int b = dyx_fnmatch_pathnames(pattern.c_str(), name.c_str(), flags);
    if (a != b) abort();
    const int c = qev_fnmatch(pattern.c_str(), name.c_str(), flags);
    if ((a != 0 && a != 1) || (c != 0 && c != 1)) abort();
    return 0;
}
