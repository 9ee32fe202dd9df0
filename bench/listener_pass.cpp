// One pass of a listener over a benchmark stream (bench_streams.h), for
// counting its instructions per hop under callgrind (docs/PERFORMANCE.md):
//   valgrind --tool=callgrind --toggle-collect=QUORLAX_ListenerPush
//     build/bench/listener_pass MODE RATE [1|quiet]
// 1: a talker under the stream; quiet: only its faint noise, as long (what
// a listener spends waiting, most of its life). Prints the messages heard
// and the hops analysed; instructions per hop are callgrind's total over
// the hops.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/AnalysisSizes.h"
#include "ZunCoreLib_api.h"
#include "bench_streams.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: listener_pass MODE RATE [1|quiet]\n");
    return 2;
  }
  const int mode = std::atoi(argv[1]);
  const float rate = static_cast<float>(std::atof(argv[2]));
  const bool quiet = argc > 3 && std::string(argv[3]) == "quiet";
  const bool talker = argc > 3 && !quiet && std::atoi(argv[3]) != 0;
  const std::vector<float>& stream = quiet ? qbench::quietStreamFor(mode, rate) : qbench::streamFor(mode, rate, talker);
  int error = 0;
  QUORLAX_Listener* l = stream.empty() ? nullptr : QUORLAX_ListenerCreate(mode, rate, &error);
  if (l == nullptr) {
    std::fprintf(stderr, "listener_pass: no stream or listener (%d)\n", error);
    return 1;
  }
  constexpr int kPush = 1024;
  QUORLAX_Message m;
  int heard = 0;
  for (size_t pos = 0; pos + kPush <= stream.size(); pos += kPush) {
    QUORLAX_ListenerPush(l, stream.data() + pos, kPush);
    while (QUORLAX_ListenerNext(l, &m) == 1) heard += m.ok;
  }
  QUORLAX_ListenerDestroy(l);
  std::printf("heard %d hops %zu\n", heard, stream.size() / kPush * kPush / QUORLAX::AnalysisHopFor(rate));
  return 0;
}
