#include "log/TarArchive.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/RetryOnSignal.h"

extern char** environ;

namespace {

const char* const TAR_PROGRAMS[] = {"/usr/bin/tar", "/bin/tar"};
// tar runs gzip through its PATH: the system's directories, not the host's.
const char TAR_PATH[] = "PATH=/usr/bin:/bin";
constexpr std::size_t TAR_BLOCK = 512;
constexpr std::size_t TAR_NAME_SIZE = 100;
constexpr std::size_t TAR_SIZE_OFFSET = 124;
constexpr std::size_t TAR_SIZE_FIELD = 12;

const char* tarProgram() {
    for (const char* program : TAR_PROGRAMS) {
        if (::access(program, X_OK) == 0)
            return program;
    }
    return nullptr;
}

// The child's whole environment: the fixed PATH and the host's locale
// settings, so that tar's messages read as they do for the host's user.
std::vector<std::string> tarEnvironment() {
    std::vector<std::string> variables{TAR_PATH};
    for (char** variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "LANG=", 5) == 0 || std::strncmp(*variable, "LC_", 3) == 0)
            variables.emplace_back(*variable);
    }
    return variables;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// tar starts with SIGCHLD at its default, whatever the host chose: it has to
// wait for its own gzip. No signal is blocked in it.
bool spawnTar(const char* program, std::vector<std::string> arguments, pid_t& pid) {
    std::vector<std::string> environment = tarEnvironment();
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGCHLD);
    sigset_t unblocked;
    sigemptyset(&unblocked);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &unblocked);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    const int failed = posix_spawn(&pid, program, nullptr, &attributes,
                                   pointersTo(arguments).data(), pointersTo(environment).data());
    posix_spawnattr_destroy(&attributes);
    return failed == 0;
}

bool readBlock(gzFile in, char* block) {
    return gzread(in, block, TAR_BLOCK) == static_cast<int>(TAR_BLOCK);
}

// The size field of a header block: octal digits, blank or NUL ended.
unsigned long long entrySize(const char* header) {
    const std::string field(header + TAR_SIZE_OFFSET, TAR_SIZE_FIELD);
    return std::strtoull(field.c_str(), nullptr, 8);
}

// Walks the tar entries up to the two zero blocks that end the archive.
bool tarHoldsMember(gzFile in, const std::string& member) {
    char block[TAR_BLOCK];
    bool found = false;
    int zeroBlocks = 0;
    while (zeroBlocks < 2) {
        if (!readBlock(in, block))
            return false;
        if (std::all_of(block, block + TAR_BLOCK, [](char byte) { return byte == 0; })) {
            ++zeroBlocks;
            continue;
        }
        zeroBlocks = 0;
        found = found || std::string(block, strnlen(block, TAR_NAME_SIZE)) == member;
        for (unsigned long long left = (entrySize(block) + TAR_BLOCK - 1) / TAR_BLOCK; left > 0;
             --left) {
            if (!readBlock(in, block))
                return false;
        }
    }
    return found;
}

}  // namespace

bool archiveReadsBack(const std::string& archive, const std::string& member) {
    gzFile in = gzopen(archive.c_str(), "rbe");
    if (!in)
        return false;
    bool whole = tarHoldsMember(in, member) && !gzdirect(in);
    // The rest up to the gzip trailer, whose checks end the stream cleanly.
    char rest[TAR_BLOCK * 8];
    int got;
    while ((got = gzread(in, rest, sizeof rest)) > 0) {
    }
    int error = Z_OK;
    gzerror(in, &error);
    whole = whole && got == 0 && error == Z_OK;
    gzclose(in);
    return whole;
}

// A host that ignores SIGCHLD has tar reaped by the kernel, and one with a
// handler of its own may reap it first: waitpid then fails with ECHILD once
// tar is gone, and only the archive itself can tell whether it was made.
bool packWithTar(const std::string& archive, const std::string& member) {
    const char* program = tarProgram();
    pid_t pid = 0;
    if (!program || !spawnTar(program, {"tar", "-zcvf", archive, member}, pid))
        return false;
    int status = 0;
    const pid_t waited = retryOnSignal([&] { return ::waitpid(pid, &status, 0); });
    if (waited == pid)
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return archiveReadsBack(archive, member);
}
