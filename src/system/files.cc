#include "system/files.h"

#include <sodium.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <string>

#include "system/env.h"
#include "system/file_io.h"
#include "system/paths.h"
#include "system/process.h"

namespace mv {

namespace {

bool MatchFrom(std::string_view p, std::string_view n) {
  // Iterative glob with one back-tracking point for the last "*".
  size_t pi = 0, ni = 0, star = std::string_view::npos, mark = 0;
  while (ni < n.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ni;
    } else if (pi < p.size() &&
               (p[pi] == '?' ||
                std::tolower(static_cast<unsigned char>(p[pi])) ==
                    std::tolower(static_cast<unsigned char>(n[ni])))) {
      ++pi;
      ++ni;
    } else if (star != std::string_view::npos) {
      pi = star + 1;
      ni = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  if (pattern == "*.*") return true;
  return MatchFrom(pattern, name);
}

Status CheckUsablePath(std::string_view native) {
  if (native.find('\0') != std::string_view::npos) return Failure(kBadFileName);
  return CheckShareReachable(native);
}

Result<UniqueFd> CreateUniquelyNamed(
    std::string_view base, std::string& name,
    const std::function<int(const std::string& name, UniqueFd& fd)>& create) {
  // Appended piece by piece: a literal + std::string makes g++ 12 at -O3
  // report a false -Wrestrict (GCC bug 105329).
  std::string prefix = ".";
  prefix += base.substr(0, 200);
  prefix += ".mvtmp-";
  prefix += std::to_string(CurrentProcessId());
  prefix += '-';
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[6];
    randombytes_buf(random, sizeof random);
    name = prefix;
    for (unsigned char b : random) {
      name.push_back("0123456789abcdef"[b >> 4]);
      name.push_back("0123456789abcdef"[b & 15]);
    }
    UniqueFd fd;
    int err = create(name, fd);
    if (err == 0) return fd;
    if (err != EEXIST) return Failure::FromErrno(err, name);
  }
  return Failure(kFileAlreadyExists);
}

std::optional<int64_t> TempFileOwner(std::string_view name) {
  if (name.size() < 2 || name[0] != '.') return std::nullopt;
  auto digits = [](std::string_view text) {
    return !text.empty() && text.size() < 10 &&
           std::all_of(text.begin(), text.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
  };
  auto hex = [](std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
  };
  std::string_view pid, rest;
  if (name.starts_with(".mvunzip-")) {
    std::string_view tail = name.substr(9);
    size_t dash = tail.find('-');
    if (dash == std::string_view::npos || !digits(tail.substr(dash + 1))) {
      return std::nullopt;
    }
    pid = tail.substr(0, dash);
  } else {
    for (std::string_view mark : {".mvtmp-", ".part-"}) {
      size_t at = name.rfind(mark);
      if (at == std::string_view::npos || at == 0) continue;
      std::string_view tail = name.substr(at + mark.size());
      size_t dash = tail.find('-');
      pid = tail.substr(0, dash);
      rest = dash == std::string_view::npos ? "" : tail.substr(dash + 1);
      bool ok =
          mark == ".part-" ? digits(rest) : (dash == tail.npos || hex(rest));
      if (!ok) pid = {};
      break;
    }
  }
  if (!digits(pid)) return std::nullopt;
  return std::stoll(std::string(pid));
}

std::vector<PartialDownload> ListPartialDownloads(Env& env,
                                                  std::string_view folder) {
  constexpr std::string_view kSuffix = ".mvpartial";
  std::vector<PartialDownload> found;
  std::string path(folder);
  int64_t now = env.NowSeconds();
  for (const std::string& name : ListFolder(path)) {
    FileFacts facts;
    if (name.size() <= kSuffix.size() + 1 || name[0] != '.' ||
        !name.ends_with(kSuffix) ||
        FactsOfEntry(JoinName(path, name), facts) != 0 || !facts.ordinary) {
      continue;
    }
    found.push_back({path, name.substr(1, name.size() - kSuffix.size() - 1),
                     now - facts.modified});
  }
  return found;
}

Status RemovePartialDownload(Env& env, const PartialDownload& partial) {
  std::string base = JoinName(partial.folder, "." + partial.name);
  env.RemoveFile(base + ".mvpartial-info");
  if (int err = env.RemoveFile(base + ".mvpartial"); err != 0) {
    return Failure::FromErrno(err, base + ".mvpartial");
  }
  return Status::Ok();
}

std::string SizeText(int64_t bytes) {
  if (bytes > 0 && bytes % (1 << 20) == 0) {
    return std::to_string(bytes >> 20) + " MiB";
  }
  if (bytes > 0 && bytes % 1024 == 0)
    return std::to_string(bytes >> 10) + " KiB";
  return std::to_string(bytes) + " bytes";
}

Failure TooLarge(std::string_view native, int64_t max_bytes) {
  return Failure(kOverflow, std::string(native) + " is larger than " +
                                SizeText(max_bytes) +
                                "; a file that large is refused");
}

}  // namespace mv
