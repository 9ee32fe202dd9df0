// quorlax scan: every sound file under folders, decoded by a pool of
// worker processes (scan/pool.h), one JSON line per message and per file
// (scan/records.h). --resume keeps every finished file and cuts off a torn
// tail, so a scan killed at any moment loses at most the files in flight and
// never repeats a line.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "commands.h"
#include "report.h"
#include "scan/pool.h"
#include "scan/results.h"
#include "scan/walk.h"

namespace cli {
namespace {

const char kScanHelp[] =
    "Usage: quorlax scan PATH... [-j N] [-m MODE] [--out FILE [--resume]] [--failed] [-q] [--list]\n"
    "\n"
    "Decodes every sound file under the PATHs (files, and folders walked recursively) and\n"
    "writes one JSON line per message heard, then one line per file once it is finished:\n"
    "  {\"file\":F,\"channel\":C,\"start\":S,\"end\":E,\"text\":T,\"ok\":B,\"band\":N,\"level_db\":L,\"confidence\":X}\n"
    "  {\"file\":F,\"duration\":SECONDS,\"rate\":HZ,\"channels\":C,\"messages\":M}\n"
    "  {\"file\":F,\"error\":WHY}          a file that could not be read; the scan goes on\n"
    "start and end are seconds from the beginning of the file; every channel is decoded.\n"
    "In folders, files whose extension names a format libsndfile reads are decoded (names\n"
    "starting with '.' are left out); files named on the command line always are.\n"
    "\n"
    "  -j, --jobs N       worker processes (default: one per core)\n"
    "  -m, --mode MODE    audible, nonaudible, compression, custom or all (default all);\n"
    "                     custom takes --base HZ and --separation N as decode does\n"
    "  -o, --out FILE     append to FILE instead of standard output\n"
    "  --resume           continue the scan that FILE holds: finished files are skipped, the\n"
    "                     unfinished tail of an interrupted scan is dropped and done again\n"
    "                     (files are known by their paths as written: give the same PATHs)\n"
    "  --failed           also report messages that failed their check (\"ok\":false)\n"
    "  -q, --quiet        no progress display (shown only when stderr is a terminal)\n"
    "  --list             print {\"file\":F} for each file the scan would decode, and stop\n"
    "\n"
    "Exit status: 0 a message passed its check, 1 none did, 2 usage or output errors.\n"
    "Files that could not be read are counted on stderr and do not change the status.\n";

// The paths as the user gave them, quoted, for a message.
std::string Joined(const std::vector<std::string>& paths) {
  std::string out;
  for (const std::string& p : paths) out += (out.empty() ? "'" : ", '") + p + "'";
  return out;
}

int CoreCount() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1L, sysconf(_SC_NPROCESSORS_ONLN));
}

// The results file: --out or -o (once), "" for standard output.
std::string ResultsPath(const Options& o) {
  if (o.Has("--out") && o.Has("-o")) throw Error("name the results file once (--out or -o)");
  std::string path = o.Has("--out") ? o.given.at("--out") : o.output;
  if (path == "-") path.clear();
  if (o.Has("--out") && path.empty() && o.given.at("--out").empty()) throw Error("--out needs a file name");
  return path;
}

int RunScan(const Options& o) {
  for (const std::string& p : o.args)
    if (p == "-") throw Error("scan reads files and folders, not standard input");
  if (o.args.empty()) throw Error("scan needs at least one file or folder (see quorlax scan -h)");
  const int jobs_given = o.Has("-j") ? ParseInt("-j", o.given.at("-j"), 1, 4096) : 0;
  const ModeChoice choice = o.ModeOr(QUORLAX_MODE_ALL);
  const bool resume = o.Has("--resume");
  const std::string out = ResultsPath(o);
  if (resume && out.empty()) throw Error("--resume continues a results file: name it with --out FILE");
  // A custom grid that cannot work fails here, once, rather than in every file.
  if (const int code = Supported(choice, kDefaultRate)) throw Error(ConfigureErrorText(code, choice, kDefaultRate));

  std::vector<std::string> files;
  Walker walker(&files);
  for (const std::string& p : o.args) walker.Add(p);
  if (o.Has("--list")) {
    std::string list;
    for (const std::string& f : files) list += "{\"file\":" + JsonString(f) + "}\n";
    WriteAll(STDOUT_FILENO, list, "standard output");
    return walker.problems() > 0 ? kExitUsage : 0;
  }

  if (files.empty() && walker.problems() == 0)
    std::fprintf(stderr, "quorlax: no sound files to decode under %s (see quorlax scan -h for what counts)\n",
                 Joined(o.args).c_str());

  Results results(out, resume);
  std::vector<std::string> todo;
  for (const std::string& f : files)
    if (!results.previous().finished.count(f)) todo.push_back(f);
  if (resume && todo.size() < files.size())
    std::fprintf(stderr, "quorlax: resuming: %zu of %zu files were finished before\n", files.size() - todo.size(),
                 files.size());

  const int jobs = std::min<int>(jobs_given > 0 ? jobs_given : CoreCount(), std::max<size_t>(todo.size(), 1));
  const bool show = !o.quiet && isatty(STDERR_FILENO);
  StatusLine progress(show);
  Pool pool(choice, o.failed, &results, show ? &progress : nullptr);
  pool.Run(todo, jobs);
  progress.Clear();
  if (show)
    std::fprintf(stderr, "quorlax: scanned %zu files, %.2f h of audio in %.1f s (%.0fx real time)\n", pool.done(),
                 pool.seconds() / 3600.0, pool.Wall(), pool.seconds() / std::max(pool.Wall(), 1e-9));
  if (pool.errors() > 0)
    std::fprintf(stderr, "quorlax: %zu of %zu files could not be read; their lines say why\n", pool.errors(),
                 pool.done());
  if (walker.problems() > 0) return kExitUsage;
  return results.previous().passed + pool.passed() > 0 ? kExitFound : kExitNothing;
}

}  // namespace

const Command kScanCommand = {
    "scan",
    "decode every sound file under folders, on every core, as JSON lines",
    kScanHelp,
    {"-m", "--base", "--separation", "-o", "--failed", "-q"},
    RunScan,
    {{"-j", "--jobs", true}, {"--out", nullptr, true}, {"--resume", nullptr, false}, {"--list", nullptr, false}},
};

}  // namespace cli
