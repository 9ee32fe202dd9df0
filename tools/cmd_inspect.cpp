// quorlax inspect: the picture of what the decoder heard is drawn by the
// Python package (matplotlib); this command finds a Python that has it.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ZunCoreLib_api.h"
#include "commands.h"

namespace cli {
namespace {

const char kInspectHelp[] =
    "Usage: quorlax inspect FILE [-o PNG] [-m MODE] [--channel N] [--title TEXT]\n"
    "\n"
    "Decodes FILE and draws what was heard into a PNG (default heard.png): the spectrogram,\n"
    "each band's tone grid, and every transmission's front door and token windows labelled\n"
    "with the decided tokens (green: check passed, red: failed).\n"
    "\n"
    "  -o, --output PNG     picture to write (default heard.png)\n"
    "  -m, --mode MODE      as for decode (default all); --base and --separation for custom\n"
    "  --channel N          channel to draw (from 1; default 1)\n"
    "  --title TEXT         title above the picture\n"
    "\n"
    "Needs the Python package (pip install . from the source tree, which also puts this\n"
    "program on the environment's PATH) and matplotlib (python3-matplotlib).\n";

// Hands over to Python; an import failure becomes one line and exit 2.
const char kLauncher[] =
    "import sys\n"
    "try:\n"
    "    from quorlax._inspect import main\n"
    "except ImportError as e:\n"
    "    sys.stderr.write('quorlax: inspect draws with the Python package quorlax, which %s cannot import '\n"
    "                     '(%s); install it with pip install . from the source tree\\n' % (sys.executable, e))\n"
    "    sys.exit(2)\n"
    "sys.exit(main(sys.argv[1:]))\n";

std::string ProgramDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.find_last_of('/'));
}

int RunInspect(const Options& o) {
  if (o.args.empty()) throw Error("inspect needs a FILE to draw");
  if (o.args.size() > 1) throw Error("inspect takes one FILE; unexpected '" + o.args[1] + "'");
  if (o.channel == kAllChannels) throw Error("inspect draws one channel; --channel all does not apply");
  std::vector<std::string> args = {"python3", "-c", kLauncher, o.args[0],
                                   "-o", o.output.empty() ? "heard.png" : o.output,
                                   "--channel", std::to_string(o.channel)};
  if (o.mode_given) {
    args.insert(args.end(), {"-m", std::to_string(o.mode.mode)});
    if (o.mode.mode == QUORLAX_MODE_CUSTOM)
      args.insert(args.end(), {"--base", std::to_string(o.mode.base_hz), "--separation",
                               std::to_string(o.mode.separation)});
  }
  if (o.Has("--title")) args.insert(args.end(), {"--title", o.given.at("--title")});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);

  // The interpreter whose package started this program (its launcher names it),
  // then a Python beside this program, then the one it was built with. Python
  // finds its environment (a venv) from the path it is started as.
  std::vector<std::string> pythons;
  if (const char* launcher = std::getenv("QUORLAX_PYTHON"); launcher != nullptr && *launcher != '\0')
    pythons.push_back(launcher);
  const std::string dir = ProgramDir();
  if (!dir.empty()) pythons.insert(pythons.end(), {dir + "/python3", dir + "/python"});
#ifdef QUORLAX_PYTHON
  pythons.push_back(QUORLAX_PYTHON);
#endif
  for (std::string& python : pythons) {
    if (::access(python.c_str(), X_OK) != 0) continue;
    argv[0] = &python[0];
    ::execv(python.c_str(), argv.data());
  }
  argv[0] = &args[0][0];
  ::execvp("python3", argv.data());
  throw Error(std::string("inspect needs Python 3 with the quorlax package: ") + std::strerror(errno));
}

}  // namespace

const Command kInspectCommand = {"inspect", "draw what the decoder heard in a sound file into a PNG",
                                 kInspectHelp, {"-o", "-m", "--channel", "--base", "--separation"}, RunInspect,
                                 {{"--title", nullptr, true}}};

}  // namespace cli
