/* A cross build's programs run under the emulator, and binfmt_misc is not
 * there to start the ones they start in turn: a daemon trying the new daemon
 * of an update package with "--version" would get "Exec format error".
 * Linked into the daemon's preloaded shim and into test programs of a cross
 * build, this starts a program of the build's own architecture through the
 * emulator (QZ_EMULATOR), as binfmt_misc would; anything else, a program for
 * another machine included, is started as asked. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int (*spawn_fn)(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                        char* const[], char* const[]);

static spawn_fn real_spawn(const char* name) { return (spawn_fn)dlsym(RTLD_NEXT, name); }

/* A 32-bit ELF file for the machine this was built for. */
static int own_architecture(const char* path) {
    Elf32_Ehdr header;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    ssize_t count = read(fd, &header, sizeof header);
    close(fd);
    return count == (ssize_t)sizeof header && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
           header.e_ident[EI_CLASS] == ELFCLASS32 && header.e_machine == EM_ARM;
}

static int spawn_emulated(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                          const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    size_t count = 0;
    while (argv[count]) ++count;
    if (count == 0) return EINVAL;
    char** emulated = calloc(count + 2, sizeof *emulated);
    if (!emulated) return ENOMEM;
    emulated[0] = (char*)QZ_EMULATOR;
    emulated[1] = (char*)path;
    memcpy(emulated + 2, argv + 1, count * sizeof *argv);
    int result = real_spawn("posix_spawnp")(pid, QZ_EMULATOR, actions, attributes, emulated, envp);
    free(emulated);
    return result;
}

int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    if (own_architecture(path)) return spawn_emulated(pid, path, actions, attributes, argv, envp);
    return real_spawn("posix_spawn")(pid, path, actions, attributes, argv, envp);
}

int posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* actions,
                 const posix_spawnattr_t* attributes, char* const argv[], char* const envp[]) {
    if (strchr(file, '/') && own_architecture(file)) return spawn_emulated(pid, file, actions, attributes, argv, envp);
    return real_spawn("posix_spawnp")(pid, file, actions, attributes, argv, envp);
}
