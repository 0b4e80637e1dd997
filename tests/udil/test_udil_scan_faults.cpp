// A plug-in directory holding files that are not working plug-ins: each is
// named in one line and skipped, the scan goes on, and nothing crashes.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "log_capture.h"
#include "udil_test_support.h"

using testing_support::LogCapture;

namespace {

class ScanFaults : public udil_test::RegistryTest {
protected:
    void copy(const std::string &from, const std::string &name, uintmax_t bytes = UINTMAX_MAX) {
        const std::string to = scratch_.file(name);
        std::filesystem::copy_file(from, to);
        if (bytes != UINTMAX_MAX) std::filesystem::resize_file(to, bytes);
    }

    // The captured lines that name `path` and say `why`, and that name it at all.
    static std::pair<int, int> lines_naming(const LogCapture &capture, const std::string &path,
                                            const std::string &why) {
        std::pair<int, int> counts{0, 0};
        for (const std::string &line : capture.console.lines) {
            if (line.find(path) == std::string::npos) continue;
            ++counts.second;
            if (line.find(why) != std::string::npos) ++counts.first;
        }
        return counts;
    }

    udil_test::ScratchDir scratch_;
};

std::string zlib_path() {
    void *zlib = dlopen("libz.so.1", RTLD_NOW);
    if (zlib == nullptr) return "";
    Dl_info info{};
    void *symbol = dlsym(zlib, "zlibVersion");
    std::string path = symbol && dladdr(symbol, &info) && info.dli_fname ? info.dli_fname : "";
    dlclose(zlib);
    return path;
}

// Guards against a plug-in cut short crashing the process: the loader
// maps such a file past its end and dies of SIGBUS on the first touch.
TEST_F(ScanFaults, BrokenFilesAreNamedAndTheRealPluginStillLoads) {
    const std::string real = udil_test::fake_path("main", "fmono");
    copy(real, "libudil-fmono.so");
    // Cut inside the first and inside the second loadable segment (debug
    // sections at the end of a file may go without harm).
    copy(real, "libudil-head.so", 3000);
    copy(real, "libudil-code.so", 9000);
    udil_test::write_all(scratch_.file("libudil-text.so"), "this is not a shared object\n");
    udil_test::write_all(scratch_.file("libudil-empty.so"), "");
    const std::string zlib = zlib_path();
    ASSERT_FALSE(zlib.empty()) << "libz.so.1 not found";
    copy(zlib, "libudil-zlib.so");
    ASSERT_TRUE(std::filesystem::create_directory(scratch_.file("libudil-d.so")));

    LogCapture capture;
    ASSERT_EQ(dyx_udil_scan_libraries(scratch_.path().c_str()), 0);

    // Only the real plug-in is registered, and it works.
    ASSERT_EQ(dyx_udil_list_first(), dyx_udil_list_last());
    UdilRecord *record = dyx_udil_find_by_name("fmono");
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->path, scratch_.file("libudil-fmono.so"));
    EXPECT_EQ(dyx_udil_load(record), 0);

    const std::pair<const char *, const char *> refused[] = {{"libudil-head.so", "truncated"},
                                                             {"libudil-code.so", "truncated"},
                                                             {"libudil-text.so", "error opening udil"},
                                                             {"libudil-empty.so", "error opening udil"},
                                                             {"libudil-zlib.so", "not a codec plug-in"}};
    for (const auto &r : refused)
        EXPECT_EQ(lines_naming(capture, scratch_.file(r.first), r.second), std::make_pair(1, 1)) << r.first;
    // A directory is no plug-in file: passed over without a word.
    EXPECT_EQ(lines_naming(capture, scratch_.file("libudil-d.so"), "").second, 0);
    EXPECT_EQ(capture.console.lines.size(), 5u);
}

// A plug-in that was whole at the scan and cut short before its first use
// is refused by the load the same way.
TEST_F(ScanFaults, PluginCutShortAfterTheScanIsNotLoaded) {
    const std::string real = udil_test::fake_path("main", "fmono");
    copy(real, "libudil-fmono.so");
    ASSERT_EQ(dyx_udil_scan_libraries(scratch_.path().c_str()), 0);
    UdilRecord *record = dyx_udil_find_by_name("fmono");
    ASSERT_NE(record, nullptr);
    std::filesystem::resize_file(scratch_.file("libudil-fmono.so"), 9000);
    LogCapture capture;
    EXPECT_EQ(dyx_udil_load(record), 7);
    EXPECT_EQ(record->handle, nullptr);
    ASSERT_EQ(capture.console.lines.size(), 1u);
    EXPECT_NE(capture.console.lines[0].find("truncated"), std::string::npos) << capture.console.lines[0];
}

}  // namespace
