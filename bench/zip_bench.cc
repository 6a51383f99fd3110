// Compares ZipFiles and UnZipFiles with Info-ZIP's zip and unzip on a
// generated tree of 10 000 files (500 MiB, mixed sizes and compressibility).
//
//   zip_bench [work-folder]
//
// Each operation runs in a fresh process (this program re-executed, or the
// Info-ZIP tool), so that its peak resident size is its own. Every operation
// runs twice, alternating with its counterpart; the faster run counts.
// Ratios above 1.0 mean that this utility is faster.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/form.h"
#include "cli/console_window.h"
#include "update/zip.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFiles = 10000;
constexpr uint64_t kTotalBytes = 500ull << 20;
constexpr int kRounds = 2;

struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint64_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  double Unit() {
    return static_cast<double>(Next() >> 11) / 9007199254740992.0;
  }
};

// Text, bytes from a small alphabet, or noise: a tenth of the files each
// kind, in proportions 5 : 3 : 2.
std::string Contents(int index, uint64_t size, Rng& rng) {
  static const char* kWords[] = {
      "update ", "store ",  "till ",    "price ", "stock ",   "order ",
      "supply ", "retail ", "invoice ", "item ",  "barcode ", "receipt ",
      "ledger ", "vendor ", "return ",  "\r\n",   "total ",   "count "};
  std::string out;
  out.reserve(size);
  int kind = index % 10;
  while (out.size() < size) {
    uint64_t r = rng.Next();
    if (kind < 5) {
      out += kWords[r % (sizeof kWords / sizeof *kWords)];
    } else if (kind < 8) {
      for (int i = 0; i < 8; ++i)
        out.push_back("abcdefghijklmnop"[(r >> (4 * i)) & 15]);
    } else {
      out.append(reinterpret_cast<const char*>(&r), sizeof r);
    }
  }
  out.resize(size);
  return out;
}

void Generate(const fs::path& tree) {
  Rng rng;
  std::vector<double> weights(kFiles);
  double sum = 0;
  for (double& w : weights) sum += (w = std::exp(7.0 * rng.Unit()));
  uint64_t written = 0;
  for (int i = 0; i < kFiles; ++i) {
    uint64_t size = i + 1 == kFiles
                        ? kTotalBytes - written
                        : static_cast<uint64_t>(weights[i] / sum * kTotalBytes);
    fs::path folder = tree / ("Group" + std::to_string(i % 10)) /
                      ("Part" + std::to_string(i / 10 % 10));
    fs::create_directories(folder);
    std::ofstream(folder / ("File" + std::to_string(i) + ".dat"),
                  std::ios::binary)
        << Contents(i, size, rng);
    written += size;
  }
}

struct Run {
  double seconds = 0;
  double cpu = 0;
  long peak_kib = 0;
  int status = 0;
};

// Runs `argv` in `cwd` as a child process and measures it.
Run Measure(const std::vector<std::string>& argv, const fs::path& cwd) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  Run r;
  r.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
          .count();
  r.cpu = ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
          (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  r.peak_kib = ru.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

void Keep(Run& best, const Run& r) {
  if (best.seconds == 0 || r.seconds < best.seconds) {
    best.seconds = r.seconds;
    best.cpu = r.cpu;
  }
  best.peak_kib = std::max(best.peak_kib, r.peak_kib);
  if (r.status != 0) best.status = r.status;
}

std::pair<uint64_t, uint64_t> CountFiles(const fs::path& root) {
  uint64_t files = 0, bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) {
      ++files;
      bytes += e.file_size();
    }
  }
  return {files, bytes};
}

void Print(const char* what, const Run& r) {
  std::printf("%-22s %8.2f s  cpu %7.2f s  peak RSS %7.1f MiB  status %d\n",
              what, r.seconds, r.cpu, r.peak_kib / 1024.0, r.status);
}

// The child modes: one ZipFiles or UnZipFiles call in a fresh process.
int Child(const std::string& mode, const char* a, const char* b) {
  mv::ConsoleWindow window(stderr, stderr);
  mv::Form form(window);
  if (mode == "--zip") return mv::ZipFiles(form.log, a, b);
  return mv::UnZipFiles(form.env, form.log, a, b, "*.*");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4) return Child(argv[1], argv[2], argv[3]);
  fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
  std::string pattern = (base / "zipbench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  fs::path work = pattern;
  fs::path tree = work / "tree";
  std::string self = fs::canonical("/proc/self/exe").string();

  std::printf("generating %d files, %llu MiB in %s\n", kFiles,
              static_cast<unsigned long long>(kTotalBytes >> 20), work.c_str());
  Generate(tree);
  std::fflush(stdout);

  Run zip_ref, zip_ours, unzip_ref, unzip_ours;
  for (int round = 0; round < kRounds; ++round) {
    fs::remove(work / "ref.zip");
    Keep(zip_ref, Measure({"zip", "-q", "-r", "-5", "../ref.zip", "."}, tree));
    fs::remove(work / "ours.zip");
    Keep(zip_ours, Measure({self, "--zip", "../ours.zip", "*.*"}, tree));
    fs::remove_all(work / "out_ref");
    Keep(unzip_ref,
         Measure({"unzip", "-o", "-q", "ref.zip", "-d", "out_ref"}, work));
    fs::remove_all(work / "out_ours");
    Keep(unzip_ours, Measure({self, "--unzip", "ref.zip", "out_ours"}, work));
  }

  auto [tree_files, tree_bytes] = CountFiles(tree);
  auto [ref_files, ref_bytes] = CountFiles(work / "out_ref");
  auto [our_files, our_bytes] = CountFiles(work / "out_ours");
  std::printf(
      "\ntree: %llu files, %llu bytes; unzip -o: %llu/%llu; "
      "UnZipFiles: %llu/%llu\n",
      (unsigned long long)tree_files, (unsigned long long)tree_bytes,
      (unsigned long long)ref_files, (unsigned long long)ref_bytes,
      (unsigned long long)our_files, (unsigned long long)our_bytes);
  std::printf("archives: zip -5 %llu bytes, ZipFiles %llu bytes\n\n",
              (unsigned long long)fs::file_size(work / "ref.zip"),
              (unsigned long long)fs::file_size(work / "ours.zip"));
  Print("zip -q -r -5", zip_ref);
  Print("ZipFiles", zip_ours);
  Print("unzip -o -q", unzip_ref);
  Print("UnZipFiles", unzip_ours);
  std::printf("\nzip ratio   (Info-ZIP time / ours): %.2f\n",
              zip_ref.seconds / zip_ours.seconds);
  std::printf("unzip ratio (Info-ZIP time / ours): %.2f\n",
              unzip_ref.seconds / unzip_ours.seconds);

  fs::remove_all(work);
  bool same = tree_files == our_files && tree_bytes == our_bytes &&
              zip_ours.status == 0 && unzip_ours.status == 0;
  return same ? 0 : 1;
}
