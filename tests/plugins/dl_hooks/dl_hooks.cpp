// Records how its start-up hooks were called, for the loader tests.
#include <unistd.h>

#include <cstring>

extern "C" {

char hooks_seen[64];
char hooks_name[256];
char hooks_cwd[4096];

void dyx_dl_init(const char *name) {
    std::strcat(hooks_seen, "init;");
    std::strncpy(hooks_name, name ? name : "(null)", sizeof hooks_name - 1);
}

// Runs while the loader maps the library: the working directory then is
// the one its relative dependencies would resolve against.
__attribute__((constructor)) static void record_load_directory() {
    if (getcwd(hooks_cwd, sizeof hooks_cwd) == nullptr) hooks_cwd[0] = '\0';
}

void dyx_prs_dl_init(const char *) { std::strcat(hooks_seen, "prs;"); }

int hooks_answer(void) { return 42; }
}
