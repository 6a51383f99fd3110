// Confines a fuzz target that carries out update commands: from Confine()
// on, the calling thread (and every process it starts) may write, make,
// remove or rename only below the folders it was given, may read only those
// and the system's program, library and settings folders, may start no
// program at all and, where the kernel can refuse it, may open no TCP
// connection. The kernel enforces it (Landlock), so a command line such as
// "DELETE \etc\*" or "RUN \bin\sh" found by the fuzzer fails with
// "permission denied" instead of acting on the machine.
#ifndef MVUPDATE_FUZZ_CONFINEMENT_H_
#define MVUPDATE_FUZZ_CONFINEMENT_H_

#include <string>
#include <vector>

namespace mv::fuzz {

// Exit status of a replay that cannot confine itself; ctest counts it as a
// skipped test rather than a pass.
inline constexpr int kCannotConfine = 77;

// Restricts the calling thread as described above, with `writable` as the
// folders it may change and `readable` as further folders (or files) it may
// read. False (with errno set) when the kernel offers no Landlock; the
// thread is then unchanged.
bool Confine(const std::vector<std::string>& writable,
             const std::vector<std::string>& readable = {});

// What libFuzzer itself uses, from its command line: it writes to the first
// corpus folder (new inputs) and to the folder of -artifact_prefix or
// -exact_artifact_path, and reads the other corpus folders and files. /,
// /tmp and the current folder are never made writable.
struct FuzzerFolders {
  std::vector<std::string> writable;
  std::vector<std::string> readable;
};
FuzzerFolders FuzzerFoldersOf(int argc, char** argv);

}  // namespace mv::fuzz

#endif  // MVUPDATE_FUZZ_CONFINEMENT_H_
