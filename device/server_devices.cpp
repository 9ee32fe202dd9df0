#include "server_devices.h"

#ifdef QUORLAX_DEVICE_HAVE_PULSE

#include <dlfcn.h>
#include <pulse/pulseaudio.h>

#include <chrono>

namespace quorlax_device {
namespace {

// libpulse is opened when a listing is first asked for, not linked: a machine
// without a sound server needs none, and a wheel carries no client library of its
// own (the machine's belongs with the machine's server, and libpulse would bring
// X11 and systemd into every process that plays or listens).
#define QUORLAX_PULSE_FUNCTIONS(X)                                                                      \
  X(pa_mainloop_new) X(pa_mainloop_get_api) X(pa_mainloop_prepare) X(pa_mainloop_poll)                  \
  X(pa_mainloop_dispatch) X(pa_mainloop_free) X(pa_context_new) X(pa_context_connect)                   \
  X(pa_context_get_state) X(pa_context_get_server_info) X(pa_context_get_sink_info_list)                \
  X(pa_context_get_source_info_list) X(pa_context_disconnect) X(pa_context_unref) X(pa_operation_unref)

struct Pulse {
#define QUORLAX_PULSE_POINTER(name) decltype(&::name) name = nullptr;
  QUORLAX_PULSE_FUNCTIONS(QUORLAX_PULSE_POINTER)
#undef QUORLAX_PULSE_POINTER
};

// Null when the machine has no libpulse.so.0 (or one without these functions).
const Pulse* OpenPulse() {
  static const Pulse* const pulse = []() -> const Pulse* {
    void* lib = ::dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return nullptr;
    static Pulse p;
    bool complete = true;
#define QUORLAX_PULSE_LOOKUP(name)                                    \
  p.name = reinterpret_cast<decltype(p.name)>(::dlsym(lib, #name)); \
  complete = complete && p.name != nullptr;
    QUORLAX_PULSE_FUNCTIONS(QUORLAX_PULSE_LOOKUP)
#undef QUORLAX_PULSE_LOOKUP
    return complete ? &p : nullptr;  // open for the life of the process
  }();
  return pulse;
}

struct Query {
  std::vector<ServerDevice> devices;
  std::string default_sink, default_source;
  int pending = 0;
  bool failed = false;
};

// Sinks and sources describe themselves alike.
template <typename Info>
void Collect(const Info* info, int eol, void* user, bool input) {
  auto* q = static_cast<Query*>(user);
  if (eol != 0) {
    --q->pending;
    return;
  }
  ServerDevice d;
  d.name = info->name != nullptr ? info->name : "";
  d.description = info->description != nullptr ? info->description : "";
  d.input = input;
  d.channels = info->sample_spec.channels;
  d.rate = static_cast<int>(info->sample_spec.rate);
  q->devices.push_back(d);
}

void OnSink(pa_context*, const pa_sink_info* info, int eol, void* user) { Collect(info, eol, user, false); }
void OnSource(pa_context*, const pa_source_info* info, int eol, void* user) { Collect(info, eol, user, true); }

void OnServer(pa_context*, const pa_server_info* info, void* user) {
  auto* q = static_cast<Query*>(user);
  if (info != nullptr) {
    q->default_sink = info->default_sink_name != nullptr ? info->default_sink_name : "";
    q->default_source = info->default_source_name != nullptr ? info->default_source_name : "";
  }
  --q->pending;
}

}  // namespace

std::vector<ServerDevice> ListServerDevices(double timeout_s) {
  const Pulse* pulse = OpenPulse();
  if (pulse == nullptr) return {};
  const Pulse& pa = *pulse;
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(timeout_s));
  pa_mainloop* loop = pa.pa_mainloop_new();
  if (loop == nullptr) return {};
  pa_context* ctx = pa.pa_context_new(pa.pa_mainloop_get_api(loop), "quorlax");
  Query q;
  bool asked = false;
  if (ctx != nullptr && pa.pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    while (Clock::now() < deadline) {
      const pa_context_state_t state = pa.pa_context_get_state(ctx);
      if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        q.failed = true;
        break;
      }
      if (state == PA_CONTEXT_READY && !asked) {
        asked = true;
        q.pending = 3;
        pa_operation* ops[] = {pa.pa_context_get_server_info(ctx, OnServer, &q),
                               pa.pa_context_get_sink_info_list(ctx, OnSink, &q),
                               pa.pa_context_get_source_info_list(ctx, OnSource, &q)};
        for (pa_operation* op : ops) {
          if (op == nullptr) q.failed = true;
          else pa.pa_operation_unref(op);
        }
        if (q.failed) break;
      }
      if (asked && q.pending == 0) break;
      // Wake at least every 50 ms to look at the clock.
      if (pa.pa_mainloop_prepare(loop, 50000) < 0 || pa.pa_mainloop_poll(loop) < 0 ||
          pa.pa_mainloop_dispatch(loop) < 0) {
        q.failed = true;
        break;
      }
    }
  } else {
    q.failed = true;
  }
  if (ctx != nullptr) {
    pa.pa_context_disconnect(ctx);
    pa.pa_context_unref(ctx);
  }
  pa.pa_mainloop_free(loop);
  if (q.failed || !asked || q.pending != 0) return {};
  for (ServerDevice& d : q.devices)
    d.is_default = d.name == (d.input ? q.default_source : q.default_sink);
  return q.devices;
}

}  // namespace quorlax_device

#else

namespace quorlax_device {
std::vector<ServerDevice> ListServerDevices(double) { return {}; }
}  // namespace quorlax_device

#endif
